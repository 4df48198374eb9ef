// The brevanta program's sound commands against the private sound server.
#include "PulseFixture.h"

#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using D = TPulseTestDevices;

TEST(BrevantaCommand, ListDevicesPrintsTheServersCatalogue) {
    qntest::TTempDir dir;
    std::string out = dir / "out.txt";
    qntest::TChildProcess p({BREVANTA_EXE, "--list-devices"}, {"PULSE_SERVER=" + PulseDaemon().Server()},
                            dir.Path(), out);
    ASSERT_EQ(p.Wait(), std::optional<int>(0)) << qntest::ReadFile(out);
    std::string text = qntest::ReadFile(out);
    for (const std::string& s : {std::string("Recording devices:"), std::string("Playback devices:"),
                                 std::string("  0: Monitor of ") + D::SinkADescription,
                                 std::string("  2: ") + D::SineDescription,
                                 std::string("  1: ") + D::SinkBDescription})
        EXPECT_NE(text.find(s), std::string::npos) << s << "\n" << text;
}

TEST(BrevantaCommand, ListDevicesWithoutAServerSaysWhy) {
    qntest::TTempDir dir;
    std::string out = dir / "out.txt";
    qntest::TChildProcess p({BREVANTA_EXE, "--list-devices"},
                            {"PULSE_SERVER=unix:" + (dir / "nothing-here")}, dir.Path(), out);
    ASSERT_EQ(p.Wait(), std::optional<int>(1));
    std::string text = qntest::ReadFile(out);
    EXPECT_NE(text.find("(none)"), std::string::npos) << text;
    EXPECT_NE(text.find("Error: "), std::string::npos) << text;
}

TEST(BrevantaCommand, RouteRunsUntilInterrupted) {
    qntest::TTempDir dir;
    std::string out = dir / "out.txt";
    std::vector<std::string> env = {"PULSE_SERVER=" + PulseDaemon().Server()};
    {
        qntest::TChildProcess bad({BREVANTA_EXE, "--route", "0"}, env, dir.Path(), out);
        EXPECT_EQ(bad.Wait(), std::optional<int>(2)) << qntest::ReadFile(out);
    }
    // The monitor of sink A to sink B, by number.
    qntest::TChildProcess p({BREVANTA_EXE, "--route", "0", "1", "--volume", "50"}, env, dir.Path(), out);
    ASSERT_TRUE(qntest::WaitFor([&] { return qntest::ReadFile(out).find("Press Ctrl+C") != std::string::npos; }))
        << qntest::ReadFile(out);
    EXPECT_NE(qntest::ReadFile(out).find("at 50 %"), std::string::npos) << qntest::ReadFile(out);
    p.Signal(SIGINT);
    ASSERT_EQ(p.Wait(), std::optional<int>(0)) << qntest::ReadFile(out);
    EXPECT_NE(qntest::ReadFile(out).find("Route stopped."), std::string::npos);
}

}  // namespace
