#include "app/QtAppHost.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QWidget>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

void TQtAppHost::Terminate() {
    // Queued, so that a request made before the loop runs ends it as soon as it starts.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

TCursor TQtAppHost::ScreenCursor() const {
    const QCursor* c = QGuiApplication::overrideCursor();
    if (c == nullptr) return TCursor::crDefault;
    switch (c->shape()) {
        case Qt::WaitCursor: return TCursor::crHourGlass;
        case Qt::BusyCursor: return TCursor::crHourGlassPointer;
        case Qt::ArrowCursor: return TCursor::crArrow;
        default: return TCursor::crDefault;
    }
}

void TQtAppHost::SetScreenCursor(TCursor cursor) {
    while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
    switch (cursor) {
        case TCursor::crDefault: break;
        case TCursor::crArrow: QGuiApplication::setOverrideCursor(Qt::ArrowCursor); break;
        case TCursor::crHourGlass: QGuiApplication::setOverrideCursor(Qt::WaitCursor); break;
        case TCursor::crHourGlassPointer: QGuiApplication::setOverrideCursor(Qt::BusyCursor); break;
    }
}

void TQtAppHost::ShowMessage(const std::string& text) {
    QMessageBox::information(QApplication::activeWindow(), QApplication::applicationName(),
                             QString::fromStdString(text));
}

TMsgDlgBtn TQtAppHost::MessageDlg(const std::string& text, TMsgDlgType type,
                                  const TMsgDlgButtons& buttons) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QApplication::applicationName());
    box.setText(QString::fromStdString(text));
    switch (type) {
        case TMsgDlgType::mtWarning: box.setIcon(QMessageBox::Warning); break;
        case TMsgDlgType::mtError: box.setIcon(QMessageBox::Critical); break;
        case TMsgDlgType::mtInformation: box.setIcon(QMessageBox::Information); break;
        case TMsgDlgType::mtConfirmation: box.setIcon(QMessageBox::Question); break;
    }
    auto standard = [](TMsgDlgBtn b) {
        switch (b) {
            case TMsgDlgBtn::mbYes: return QMessageBox::Yes;
            case TMsgDlgBtn::mbNo: return QMessageBox::No;
            case TMsgDlgBtn::mbOK: return QMessageBox::Ok;
            case TMsgDlgBtn::mbCancel: return QMessageBox::Cancel;
            case TMsgDlgBtn::mbRetry: return QMessageBox::Retry;
        }
        return QMessageBox::Cancel;
    };
    std::vector<std::pair<QAbstractButton*, TMsgDlgBtn>> made;
    for (TMsgDlgBtn b : buttons) made.emplace_back(box.addButton(standard(b)), b);
    if (made.empty()) made.emplace_back(box.addButton(QMessageBox::Ok), TMsgDlgBtn::mbOK);
    const TMsgDlgBtn escape = buttons.empty() ? TMsgDlgBtn::mbOK : EscapeAnswer(buttons);
    for (auto& [button, b] : made) {
        if (b == escape) box.setEscapeButton(button);
    }
    auto offered = [&](TMsgDlgBtn b) {
        return std::any_of(made.begin(), made.end(), [&](auto& m) { return m.second == b; });
    };
    TMsgDlgBtn def = offered(TMsgDlgBtn::mbYes)  ? TMsgDlgBtn::mbYes
                     : offered(TMsgDlgBtn::mbOK) ? TMsgDlgBtn::mbOK
                                                   : made.front().second;
    for (auto& [button, b] : made)
        if (b == def) box.setDefaultButton(qobject_cast<QPushButton*>(button));
    box.exec();
    for (auto& [button, b] : made)
        if (box.clickedButton() == button) return b;
    return escape;
}

bool TQtAppHost::HeapMonitorVisible() const {
    return FHeapMonitor != nullptr && FHeapMonitor->isVisible();
}

IToolWindow* TQtAppHost::ActiveToolWindow() {
    return OnActiveToolWindow ? OnActiveToolWindow() : nullptr;
}

namespace {
int QuitPipe[2] = {-1, -1};

void OnQuitSignal(int) {
    char c = 1;
    ssize_t n = ::write(QuitPipe[1], &c, 1);
    (void)n;
}
}  // namespace

void InstallQuitSignalHandlers() {
    if (QuitPipe[0] >= 0) return;
    if (::pipe2(QuitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(QuitPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char buf[16];
        while (::read(QuitPipe[0], buf, sizeof buf) > 0) {
        }
        CloseApplication(AppMgr);
    });
    struct sigaction sa {};
    sa.sa_handler = OnQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}
