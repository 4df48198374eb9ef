#include "app/QtAppHost.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QWidget>

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
