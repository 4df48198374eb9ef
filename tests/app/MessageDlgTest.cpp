// The Qt host's standard message dialogs on Qt's offscreen platform: buttons, the default
// and escape buttons, and the answer for the button pressed.
#include "app/QtAppHost.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

class TQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "test_app_messagedlg";
        static char* argv[] = {name, nullptr};
        App = std::make_unique<QApplication>(argc, argv);
        QApplication::setApplicationName("Brevanta");
    }
    void TearDown() override { App.reset(); }
    std::unique_ptr<QApplication> App;
};

[[maybe_unused]] auto* const QtEnv = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

// Runs Act on the box once it is up (polling, bounded), while MessageDlg waits for it.
TMsgDlgBtn AskAndAct(const TMsgDlgButtons& buttons, const std::function<void(QMessageBox&)>& act) {
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act, poll, tries] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            act(*box);
        } else if (++*tries < 5000) {
            QTimer::singleShot(2, *poll);
        }
    };
    QTimer::singleShot(0, *poll);
    TQtAppHost host;
    TMsgDlgBtn answer = host.MessageDlg("Uninstall Brevanta?", TMsgDlgType::mtConfirmation, buttons);
    *poll = nullptr;
    return answer;
}

TEST(QtMessageDlg, TheButtonPressedIsTheAnswer) {
    const TMsgDlgButtons four{TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel, TMsgDlgBtn::mbRetry};
    struct Case {
        QMessageBox::StandardButton Press;
        TMsgDlgBtn Answer;
    };
    for (const Case c : {Case{QMessageBox::Yes, TMsgDlgBtn::mbYes}, Case{QMessageBox::No, TMsgDlgBtn::mbNo},
                         Case{QMessageBox::Cancel, TMsgDlgBtn::mbCancel},
                         Case{QMessageBox::Retry, TMsgDlgBtn::mbRetry}}) {
        QString title, text;
        bool question = false;
        int count = 0;
        EXPECT_EQ(AskAndAct(four,
                            [&](QMessageBox& box) {
                                title = box.windowTitle();
                                text = box.text();
                                question = box.icon() == QMessageBox::Question;
                                count = int(box.buttons().size());
                                box.button(c.Press)->click();
                            }),
                  c.Answer);
        EXPECT_EQ(title, "Brevanta");
        EXPECT_EQ(text, "Uninstall Brevanta?");
        EXPECT_TRUE(question);
        EXPECT_EQ(count, 4);
    }
}

TEST(QtMessageDlg, YesIsTheDefaultAndClosingTheBoxGivesTheEscapeAnswer) {
    struct Case {
        TMsgDlgButtons Buttons;
        QMessageBox::StandardButton Default;
        TMsgDlgBtn Escape;
    };
    const Case cases[] = {
        {{TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}, QMessageBox::Yes, TMsgDlgBtn::mbNo},
        {{TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel, TMsgDlgBtn::mbRetry}, QMessageBox::Yes,
         TMsgDlgBtn::mbCancel},
        {{TMsgDlgBtn::mbOK}, QMessageBox::Ok, TMsgDlgBtn::mbOK},
        {{TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbCancel}, QMessageBox::Retry, TMsgDlgBtn::mbCancel},
    };
    for (const Case& c : cases) {
        QAbstractButton* def = nullptr;
        QAbstractButton* expected = nullptr;
        EXPECT_EQ(AskAndAct(c.Buttons,
                            [&](QMessageBox& box) {
                                def = box.defaultButton();
                                expected = box.button(c.Default);
                                box.reject();  // Escape or the close box
                            }),
                  c.Escape);
        EXPECT_TRUE(def != nullptr && def == expected);
    }
}

}  // namespace
