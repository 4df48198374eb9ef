// Helpers of the sync tests: a prompter with scripted answers and the fixtures.
#pragma once

#include "sync/FileSyncMgr.h"
#include "sync/SyncPrompter.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <deque>
#include <string>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <utime.h>
#include <vector>

namespace synctest {

using qntest::TFileSizeLimit;

inline std::string Fixture(const std::string& name) {
    return std::string(QN_FIXTURES_DIR) + "/sync/" + name;
}

// Answers questions from queues and records everything it was shown. A question without a
// scripted answer fails the test and is answered as if the box had been closed.
class TScriptedPrompter : public ISyncPrompter {
public:
    std::deque<TMsgDlgBtn> Answers;
    std::deque<std::string> FileNames;
    std::vector<std::string> Messages;   // ShowMessage texts
    std::vector<std::string> Questions;  // MessageDlg texts
    std::vector<TSyncFileDialog> Dialogs;
    std::vector<std::string> Statuses;

    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    TMsgDlgBtn MessageDlg(const std::string& text, TMsgDlgType, const TMsgDlgButtons& buttons) override {
        Questions.push_back(text);
        if (Answers.empty()) {
            ADD_FAILURE() << "Unexpected question: " << text;
            return EscapeAnswer(buttons);
        }
        TMsgDlgBtn answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    std::string PromptFileName(const TSyncFileDialog& dialog) override {
        Dialogs.push_back(dialog);
        if (FileNames.empty()) {
            ADD_FAILURE() << "Unexpected file dialog: " << dialog.Title;
            return {};
        }
        std::string name = FileNames.front();
        FileNames.pop_front();
        return name;
    }
    void ShowStatus(const std::string& text) override { Statuses.push_back(text); }

    bool Shown(const std::string& text) const {
        for (const auto& m : Messages)
            if (m == text) return true;
        return false;
    }
    void Clear() {
        Messages.clear();
        Questions.clear();
        Dialogs.clear();
        Statuses.clear();
    }
};

class TTestClock : public ISyncClock {
public:
    TDateTime Time = 46000.5;
    TDateTime Now() override { return Time; }
};

class TTestTimer : public ISyncTimer {
public:
    bool On = true;
    bool Enabled() const override { return On; }
    void SetEnabled(bool enabled) override { On = enabled; }
    int Interval = 1000;
    void SetInterval(int milliseconds) override { Interval = milliseconds; }
};

// Writes a file with a modification time Hours after a fixed moment.
// Writes Text with the modification time Hours (and Milliseconds) after an even second.
inline void Put(const std::string& path, const std::string& text, int hours = 0, int milliseconds = 0) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    qntest::WriteFile(path, text);
    struct timespec t[2];
    t[0].tv_sec = t[1].tv_sec = 1700000000 + hours * 3600 + milliseconds / 1000;
    t[0].tv_nsec = t[1].tv_nsec = (milliseconds % 1000) * 1000000L;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

}  // namespace synctest
