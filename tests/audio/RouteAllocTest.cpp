// A running route allocates nothing on its data threads. This executable replaces the
// global operator new to count the allocations made by threads other than the test's
// own while a route runs on the simulated driver (whose data path allocates nothing
// either; what the test thread does - moving the clock, recording what was played - is
// not counted).
#include "RouteTestSignals.h"
#include "audio/MMAudioRouter.h"
#include "platform/SimWaveDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

using namespace std::chrono_literals;

namespace {

std::atomic<bool> Counting{false};
std::atomic<long> OtherThreadAllocations{0};
thread_local bool IsTestThread = false;

void* CountedAlloc(std::size_t n) {
    if (Counting.load(std::memory_order_relaxed) && !IsTestThread)
        OtherThreadAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return CountedAlloc(n); }
void* operator new[](std::size_t n) { return CountedAlloc(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

TEST(RouteAllocations, NoneOnTheDataThreadsWhileARouteRuns) {
    IsTestThread = true;
    // The counter sees allocations on other threads.
    Counting = true;
    std::thread([] { auto p = std::make_unique<int>(1); }).join();
    Counting = false;
    ASSERT_EQ(OtherThreadAllocations.exchange(0), 1);

    TSimWaveDriver driver;
    driver.AddDevice(TWaveKind::In, "Line In");
    driver.AddDevice(TWaveKind::Out, "Speakers");
    std::vector<uint8_t> capture;
    TNoise noise(3);
    for (int i = 0; i < 1000; ++i) PutSample(capture, noise.Next(32767));
    driver.SetCaptureData("Line In", capture);
    TMainThreadLoop loop;
    TMMAudioRouter r(driver, loop);
    // Every path of the buffer handlers: scaling, both level meters.
    r.AudioIn().SetVolume(70);
    int levels = 0;
    r.AudioIn().SetOnLevel([&](TMMAudioIO&, int) { ++levels; });
    r.AudioOut().SetOnLevel([&](TMMAudioIO&, int) { ++levels; });
    r.Route(0, 0);
    ASSERT_TRUE(driver.WaitUntil([&] { return r.AudioIn().Opened() && r.AudioOut().Opened(); }, 10s));
    auto queued = [&] {
        return driver.QueuedBuffers(TWaveKind::In, "Line In") + driver.QueuedBuffers(TWaveKind::Out, "Speakers");
    };
    auto run = [&](int steps) {
        for (int i = 0; i < steps; ++i) {
            driver.Advance(2ms);
            ASSERT_TRUE(driver.WaitUntil([&] { return queued() == 20; }, 10s));
            loop.ProcessPending();
        }
    };
    run(50);  // past the first round of every buffer

    Counting = true;
    run(500);  // a second of sound
    Counting = false;
    EXPECT_EQ(OtherThreadAllocations.load(), 0);
    EXPECT_GT(r.AudioIn().BuffersDone(), 100u);
    EXPECT_GT(r.AudioOut().BuffersDone(), 100u);
    const auto played = driver.PlayedData("Speakers");
    const auto expected = Scaled(capture, 70);
    ASSERT_GT(played.size(), 30000u);
    for (size_t i = 0; i < played.size(); ++i) ASSERT_EQ(played[i], expected[i % expected.size()]) << i;
    EXPECT_TRUE(r.Stop());
}
