#include "ui/QNHints.h"

#include "app/AppMgr.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace {

TQNHintHook* HookInstance = nullptr;

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

void ApplyTooltip(QObject* control, const std::string& hint) {
    // Qt's tooltips break lines at "\n".
    QString tip = QString::fromStdString(ReplaceAll(TooltipOfHint(hint), "\r\n", "\n"));
    if (auto* w = qobject_cast<QWidget*>(control)) w->setToolTip(tip);
    else if (auto* a = qobject_cast<QAction*>(control)) a->setToolTip(tip);
}

}  // namespace

void SetHint(QObject* control, const std::string& hint) {
    if (control == nullptr) return;
    if (hint.empty()) control->setProperty(HintProperty, QVariant());
    else control->setProperty(HintProperty, QString::fromStdString(hint));
    ApplyTooltip(control, hint);
    if (auto* a = qobject_cast<QAction*>(control)) {
        // Menu items get no Enter events: their hover passes the hint on.
        if (!a->property("qnHintHover").toBool()) {
            a->setProperty("qnHintHover", true);
            QObject::connect(a, &QAction::hovered, a, [a] {
                if (TQNHintHook* hook = TQNHintHook::Instance()) hook->ApplyHint(HintOf(a));
            });
        }
    }
}

std::string HintOf(const QObject* control) {
    if (control == nullptr) return {};
    return control->property(HintProperty).toString().toStdString();
}

std::string EffectiveHint(const QWidget* control) {
    for (const QWidget* w = control; w != nullptr; w = w->parentWidget()) {
        std::string hint = HintOf(w);
        if (!hint.empty()) return hint;
        if (w->isWindow()) break;
    }
    return {};
}

std::string TooltipOfHint(const std::string& hint) {
    size_t bar = hint.find('|');
    if (bar == std::string::npos) return hint;
    std::string shortPart = hint.substr(0, bar);
    // A help address is not worth a tooltip: show the text that explains the control.
    if (shortPart.find("http") != std::string::npos) return hint.substr(bar + 1);
    return shortPart;
}

std::string NormalizeHintText(const std::string& hint) {
    return ReplaceAll(ReplaceAll(hint, "#13#10", "\r\n"), "||", "\r\n");
}

void NormalizeHints(QWidget* form) {
    if (form == nullptr) return;
    auto normalize = [](QObject* o) {
        std::string hint = HintOf(o);
        if (hint.empty()) return;
        std::string normal = NormalizeHintText(hint);
        if (normal != hint) SetHint(o, normal);
    };
    normalize(form);
    for (QObject* o : form->findChildren<QObject*>()) normalize(o);
}

void NormalizeAllHints() {
    for (QWidget* w : QApplication::topLevelWidgets()) NormalizeHints(w);
}

TQNHintHook::TQNHintHook(QObject* parent) : QObject(parent) {
    if (qApp != nullptr) qApp->installEventFilter(this);
    HookInstance = this;
}

TQNHintHook::~TQNHintHook() {
    if (HookInstance == this) HookInstance = nullptr;
}

TQNHintHook* TQNHintHook::Instance() { return HookInstance; }

void TQNHintHook::ApplyHint(const std::string& hint) {
    if (hint == FCurrentHint) return;
    FCurrentHint = hint;
    if (OnHint) OnHint(hint);
    else if (AppMgr != nullptr) AppMgr->HandleHint(hint);
}

bool TQNHintHook::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Enter:
            if (auto* w = qobject_cast<QWidget*>(watched)) ApplyHint(EffectiveHint(w));
            break;
        case QEvent::Leave:
            // Leaving a control puts the mouse over its parent (a sibling's Enter follows
            // when the mouse went there instead).
            if (auto* w = qobject_cast<QWidget*>(watched))
                ApplyHint(w->isWindow() ? std::string() : EffectiveHint(w->parentWidget()));
            break;
        case QEvent::ToolTip:
            if (OnShowHints && !OnShowHints()) return true;
            break;
        default: break;
    }
    return QObject::eventFilter(watched, event);
}
