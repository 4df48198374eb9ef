// Hints of the suite's windows: how a control carries its hint, how the application's
// hint handler learns which hint is under the mouse, and the pass that turns the line
// break markers of hints into real line breaks.
//
// A hint has the form  short part "|" long part  (either part may be missing):
//   - the long part (the whole hint when it has no "|") is the status-line text;
//   - a hint that contains "http" carries a help address as its short part, which F1
//     ("Item Help") opens.
// Example:  "https://quennick.example/help/routes|Drop a recording device here."
//
// Usage in a window:
//   SetHint(ButtonSearch, "Search the folders|Starts the search.");
//   SetHint(ActionSave, "Save|Saves the document.");        // menu items too
//   ...after building the controls:  NormalizeHints(this);
//
// The control keeps the whole hint in its dynamic property "qnHint" and shows a tooltip:
// the short part, or the long part when the short part is a help address. Controls
// without a hint of their own use their parent's (as the mouse moves over a panel's
// children, the panel's hint stays current).
//
// TQNHintHook is the application-wide part: installed once by the program body on the
// application object, it follows the mouse (Enter and Leave events) and, whenever the
// hint under the mouse changes, passes the whole hint to AppMgr->HandleHint, which
// updates the status line of the active tool window and the help address. It also
// suppresses tooltips while the host has hints turned off.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <string>

class QAction;
class QWidget;

// The dynamic property that holds a control's whole hint (QString).
inline constexpr const char* HintProperty = "qnHint";

// Gives a control or a menu item its hint (and tooltip). An empty hint removes it.
void SetHint(QObject* control, const std::string& hint);
// The control's own hint; empty when it has none.
std::string HintOf(const QObject* control);
// The hint in effect for a control: its own, or that of the nearest parent within the
// same window that has one.
std::string EffectiveHint(const QWidget* control);
// The tooltip shown for a hint.
std::string TooltipOfHint(const std::string& hint);
// Replaces "#13#10" and "||" in a hint by CR LF.
std::string NormalizeHintText(const std::string& hint);
// Runs NormalizeHintText over the hints of the form, its controls and its menu items.
void NormalizeHints(QWidget* form);
// The same over every top-level window of the application.
void NormalizeAllHints();

class TQNHintHook : public QObject {
    Q_OBJECT
public:
    // Installs the hook on the application object; removed again with the object.
    explicit TQNHintHook(QObject* parent = nullptr);
    ~TQNHintHook() override;

    // Whether tooltips show; unset means always.
    std::function<bool()> OnShowHints;
    // Receives each new hint; AppMgr->HandleHint when unset.
    std::function<void(const std::string&)> OnHint;

    // The hint last passed on.
    const std::string& CurrentHint() const { return FCurrentHint; }
    // Passes Hint on when it differs from the current one.
    void ApplyHint(const std::string& hint);

    // The installed hook, or null.
    static TQNHintHook* Instance();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string FCurrentHint;
};
