#include "app/BrevanAppMgr.h"

#include "app/BrevanInstall.h"
#include "common/QNMemIniFile.h"
#include "common/ifutils.h"
#include "locations/LocationOwner.h"
#include "platform/Processes.h"
#include "platform/XdgDirs.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long stage two waits for stage one to end.
constexpr int FirstStageWaitMs = 5000;

std::string WithoutTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

bool IsRealFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EntryPresent(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Every file and folder below Folder (which ends with "/"), folders with a trailing
// "/", never entering a folder through a link (links are listed as files).
void CollectTree(TLocationOwner& owner, const std::string& folder, TQNStringList& into) {
    TQNStringList names;
    owner.ListFolder("*", folder, true, nullptr, nullptr, nullptr, names);
    for (const std::string& name : names.ToVector()) {
        if (name == folder + "./") continue;
        into.Add(name);
        if (!name.empty() && name.back() == '/') CollectTree(owner, name, into);
    }
}

}  // namespace

TBrevanAppMgr::TBrevanAppMgr() { DefaultLocationOwner()->SetHost(this); }

TBrevanAppMgr::~TBrevanAppMgr() {
    if (DefaultLocationOwner()->Host() == this) DefaultLocationOwner()->SetHost(nullptr);
}

void TBrevanAppMgr::Log(const std::string& text, int level) {
    std::fprintf(stderr, "%s\n", text.c_str());
    // The owner's log reaches the log file as well when the manager writes one.
    DefaultLocationOwner()->ShowStatus(text, level, true);
}

void TBrevanAppMgr::DoUninstallApp() {
    const std::string question = std::string("Uninstall ") + ApplicationTitle + "?";
    if (MessageDlg(question, TMsgDlgType::mtConfirmation, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}) ==
        TMsgDlgBtn::mbYes) {
        // A running executable can be deleted on Linux, so the installed program itself
        // runs the second stage.
        const std::string program = FAppDir + "/" + ProgramFileName;
        std::string error;
        if (StartDetachedProcess(program, {FAppDir, "-uninstallFinalize"}, TempDirPath(), error) <
            0) {
            Log("Cannot start " + program + ": " + error, llError);
            ShowMessageNormal("The uninstall could not be started.\n" + program + ": " + error);
        }
    }
    CloseApplication(this);
}

void TBrevanAppMgr::DoUninstallFinalize() {
    WaitForFirstStage();
    FinalizeUninstall();
    CloseApplication(this);
}

void TBrevanAppMgr::WaitForFirstStage() {
    // Stage one is this program's parent. Once it ends, this process gets another parent;
    // a parent that is some other program (a shell, a test) is not waited for.
    const pid_t parent = ::getppid();
    const std::string self = ProcessExePath(::getpid());
    if (self.empty() || ProcessExePath(parent) != self) return;
    WaitForProcessEnd(parent, FirstStageWaitMs);
}

void TBrevanAppMgr::FinalizeUninstall() {
    TLocationOwner& owner = *DefaultLocationOwner();
    const std::string given = FParams.Count() > 0 ? FParams[0] : std::string();
    std::string reason;
    if (!IsAcceptableInstallFolder(given, reason)) {
        Log("Uninstall refused for the folder \"" + given + "\": " + reason + ".", llError);
        return;
    }
    const std::string folder = WithoutTrailingSlashes(given);
    const std::string infoPath = folder + "/" + UninstallInfoFileName;
    if (!FileExists(infoPath)) return;  // not an installation: nothing to do, nothing said

    TQNStringList text;
    try {
        text.LoadFromFile(infoPath);
    } catch (const std::exception& e) {
        Log(std::string("Cannot read the list of installed files: ") + e.what(), llError);
        ShowMessageNormal(std::string("The uninstall cannot read ") + infoPath + ".\n" + e.what());
        return;
    }
    TQNMemIniFile& scratch = ScratchStore();
    scratch.SetStrings(text);
    const TQNStringList files = scratch.GetSection("Files");

    bool stopped = false;  // the user answered No or Cancel
    TQNStringList notRemoved;
    const pid_t self = ::getpid();
    for (int i = 0; i < files.Count() && !stopped; ++i) {
        const std::string file = UninstallFileOfLine(folder, files[i], reason);
        if (file.empty()) {
            Log("Refused the line \"" + files[i] + "\" of " + infoPath + ": " + reason + ".",
                llWarning);
            continue;
        }
        while (EntryPresent(file)) {
            if (IsRealFolder(file)) {
                Log(file + " is a folder, not a file of the installation; it is kept.", llWarning);
                notRemoved.Add(file);
                break;
            }
            if (!ProcessesRunning(file, self).empty()) {
                TMsgDlgBtn answer = MessageDlg(
                    file + " is in use.  I can terminate it, but you " +
                        "should try to end the program yourself which will save everything, "
                        "then Retry.  " +
                        "Should I terminate it?",
                    TMsgDlgType::mtConfirmation,
                    {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel,
                     TMsgDlgBtn::mbRetry});
                if (answer == TMsgDlgBtn::mbYes) {
                    TerminateProcessesOf(file, self);
                    continue;
                }
                if (answer == TMsgDlgBtn::mbRetry) continue;
                stopped = true;
                break;
            }
            TQNStringList one;
            one.Add(file);
            TCopyResult result;
            owner.DeleteList(one, false, result, false, true);
            if (result.Files != 1) {
                Log("Cannot delete " + file + ".", llError);
                notRemoved.Add(file);
            }
            break;
        }
    }

    // The folders go only when empty; the one above only when it is the maker's own.
    owner.DeleteFolder(folder, false);
    const std::string parent = ExtractParentDir(folder);
    if (SameText(ExtractLastPathComponent(parent), MakerFolderName))
        owner.DeleteFolder(parent, false);

    if (stopped) return;
    if (!RemoveMenuEntries(owner)) notRemoved.Add(MenuEntriesFolder());
    if (notRemoved.Empty())
        ShowMessageNormal("Uninstall complete.");
    else
        ShowMessageNormal("The uninstall could not remove:\n" + notRemoved.Text("\n"));
}

bool TBrevanAppMgr::RemoveMenuEntries(TLocationOwner& owner) {
    const std::string menu = MenuEntriesFolder();
    if (!EntryPresent(menu)) return true;
    if (!IsRealFolder(menu)) {
        // Never through a link into some other folder.
        Log(menu + " is not a folder; it is kept.", llWarning);
        return false;
    }
    TQNStringList entries;
    try {
        CollectTree(owner, menu + "/", entries);
    } catch (const std::exception& e) {
        Log(e.what(), llError);
    }
    entries.Add(menu + "/");
    TCopyResult result;
    owner.DeleteList(entries, true, result, false, false);
    return !EntryPresent(menu);
}
