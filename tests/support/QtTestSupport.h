// The application object of a window test executable, and screenshots of its windows.
#pragma once

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QWidget>

#include <cstdlib>
#include <memory>
#include <string>

namespace qntest {

// Makes the QApplication before the first test (Qt's offscreen platform unless the run
// chose another) with private folders for settings, caches, logs and menu entries.
class TQtEnvironment : public ::testing::Environment {
public:
    explicit TQtEnvironment(std::string name) : FName(std::move(name)) {}
    void SetUp() override {
        FDir = std::make_unique<TTempDir>(FName);
        for (const char* v : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"})
            ::setenv(v, (*FDir / v).c_str(), 1);
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        FArgv[0] = FName.data();
        FApp = std::make_unique<QApplication>(FArgc, FArgv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override {
        FApp.reset();
        FDir.reset();
    }

private:
    std::string FName;
    int FArgc = 1;
    char* FArgv[2] = {nullptr, nullptr};
    std::unique_ptr<TTempDir> FDir;
    std::unique_ptr<QApplication> FApp;
};

// Registers the environment; call once per executable, at namespace scope.
inline ::testing::Environment* AddQtEnvironment(const char* name) {
    return ::testing::AddGlobalTestEnvironment(new TQtEnvironment(name));
}

// Saves what the window shows as <build>/screenshots/<name>.png, for a reader to look at.
inline void SaveScreenshot(QWidget* w, const std::string& name) {
    QDir().mkpath(QN_BINARY_DIR "/screenshots");
    QString path = QString(QN_BINARY_DIR "/screenshots/") + QString::fromStdString(name) + ".png";
    EXPECT_TRUE(w->grab().save(path)) << path.toStdString();
}

}  // namespace qntest
