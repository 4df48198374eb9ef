// Brevanta's application manager: the framework's manager plus the product's uninstall.
//
// The uninstall runs in two processes, both inside the manager's construction, and both
// end the program without showing a window:
//
// Stage one ("/UninstallApp", the Uninstall menu entry) asks "Uninstall Brevanta?"; on
// Yes it starts <program folder>/brevanta <program folder> -uninstallFinalize as a
// process of its own session in the user's temporary folder, and tells the user when
// that cannot be started.
//
// Stage two waits (at most 5 seconds) until stage one, its parent, has ended, then
// removes the files that the installation folder's UninstallInfo.txt lists, asking
// before it ends a program that runs from one of them, then the installation folder and
// the maker's folder above it when they are empty, and the menu entries. It never
// touches anything outside the installation folder and the menu entries' folder: lines
// that name other places are refused and logged.
#pragma once

#include "app/AppMgr.h"

#include <string>

class TLocationOwner;

class TBrevanAppMgr : public TAppMgr {
public:
    static constexpr const char* ApplicationTitle = "Brevanta";

    // The program's default location owner reports its status through this manager
    // while it exists.
    TBrevanAppMgr();
    ~TBrevanAppMgr() override;

protected:
    void DoUninstallApp() override;
    void DoUninstallFinalize() override;

private:
    // Waits until the parent process, when it is this same program (stage one), has
    // ended; at most 5000 ms.
    void WaitForFirstStage();
    void FinalizeUninstall();
    // Deletes the menu entries' folder with everything in it; false when something stays.
    bool RemoveMenuEntries(TLocationOwner& owner);
    // Logs a line of the uninstall (log file, the owner's log, standard error).
    void Log(const std::string& text, int level);
};
