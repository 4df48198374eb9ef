// The framework's frame window: the main window of every product of the suite.
//
// As a multi-document parent (the suite frame) it holds the tool windows as child
// windows and offers the File, Window and Help menus; a product's main window derives
// from it as an ordinary window (TFormStyle::fsNormal) and keeps the tray icon, the File
// and Help menus and the start-up hook.
//
// Closing the window hides it to the tray; the program ends only through "Exit" (File
// menu or tray menu), which calls CloseApplication. Where the desktop has no tray,
// closing the window ends the program instead, and when the desktop session ends the
// window agrees to close.
//
// Menu merge groups of the original menus have no counterpart in Qt: a child window
// that brings menus adds them to the frame's menu bar itself.
#pragma once

#include "app/AboutForm.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QMdiArea;
class QMenu;
class TCoolTrayIcon;

enum class TFormStyle { fsNormal, fsMDIForm };

class TFormFrame : public QMainWindow {
    Q_OBJECT
public:
    // The suite frame: caption "Quennick Suite", a multi-document parent, maximised.
    explicit TFormFrame(QWidget* parent = nullptr);
    ~TFormFrame() override;

    // Runs once after creation, as soon as the event loop runs (after every form of the
    // program body exists). Descendants that override it call the inherited one first.
    virtual void AfterStartup();
    bool StartupDone() const { return FStartupDone; }

    bool IsMDIParent() const { return FMdiArea != nullptr; }
    QMdiArea* MdiArea() const { return FMdiArea; }

    // The about box that "About" shows; the frame makes its own when none is given.
    void SetAboutForm(TAboutForm* form);
    TAboutForm* AboutForm();

    // Components.
    QMenu* File1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* WindowMain = nullptr;
    QAction* Tile1 = nullptr;
    QAction* Cascade1 = nullptr;
    QAction* ArrangeIcons1 = nullptr;
    QAction* NewSeekmoor1 = nullptr;
    QAction* FMW1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* ItemHelp1 = nullptr;
    QAction* About1 = nullptr;
    TCoolTrayIcon* CoolTrayIconMain = nullptr;
    QMenu* PopupMenuCoolTray1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Exit2 = nullptr;

    // Event handlers.
    void Exit1Click();
    void Tile1Click();
    void Cascade1Click();
    void ArrangeIcons1Click();
    void NewSeekmoor1Click();
    void FMW1Click();
    void ItemHelp1Click();
    void About1Click();
    void CoolTrayIconMainClick();
    void Open1Click();
    void Exit2Click();

protected:
    TFormFrame(TFormStyle style, QWidget* parent);

    // The client area of an ordinary (not multi-document) window, for its controls.
    QWidget* ClientPanel() const { return FClientPanel; }

    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void CreateTray();
    void RunAfterStartup();
    void UpdateWindowList();
    bool MayClose() const;

    QMdiArea* FMdiArea = nullptr;
    QWidget* FClientPanel = nullptr;
    QAction* FWindowListSeparator = nullptr;
    QList<QAction*> FWindowListActions;
    QPointer<TAboutForm> FAboutForm;
    std::unique_ptr<TAboutForm> FOwnAboutForm;
    bool FStartupDone = false;
    bool FSessionEnding = false;
};
