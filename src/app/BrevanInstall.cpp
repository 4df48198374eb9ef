#include "app/BrevanInstall.h"

#include "app/AppMgr.h"
#include "common/ifutils.h"
#include "platform/DesktopEntry.h"

namespace {

bool HasControlCharacters(const std::string& s) {
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

std::string WithoutTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

}  // namespace

std::string MenuEntriesFolder() {
    // The shortcut writer's own idea of the Programs folder, so that the entries written
    // at start-up and the folder the uninstall removes are always the same one.
    TPBShellLink link;
    link.SetShellFolder(TShellFolder::sfPrograms);
    link.SetUserFolder(TUserFolder::ufCurrentUser);
    return link.LinkPath() + "Brevanta";
}

void CreateShortcuts(const std::string& appDir) {
    const std::string folder = MenuEntriesFolder();
    ForceDirectories(folder);
    const std::string program = appDir + "/" + ProgramFileName;
    const std::string icon = appDir + "/" + IconFileName;

    TPBShellLink link;
    link.WorkingDir = appDir;
    link.Target = program;
    if (FileExists(icon)) link.IconFile = icon;

    link.Name = "Brevanta";
    link.SetFileName(folder + "/Brevanta.desktop");
    link.Save();

    link.Name = "Uninstall Brevanta";
    link.Arguments = {"/UninstallApp"};
    link.SetFileName(folder + "/Uninstall.desktop");
    link.Save();
}

void CreateShortcuts(TAppMgr* mgr) {
    if (mgr == nullptr || !FileExists(mgr->FAppDir + "/" + UninstallInfoFileName)) return;
    try {
        CreateShortcuts(mgr->FAppDir);
    } catch (const std::exception& e) {
        mgr->LogToFile(e.what());
        mgr->ShowMessageNormal(e.what());
    }
}

bool IsAcceptableInstallFolder(const std::string& folder, std::string& reason) {
    reason.clear();
    if (folder.empty()) reason = "no installation folder was given";
    else if (HasControlCharacters(folder)) reason = "the folder name holds control characters";
    else if (folder[0] != '/') reason = "the folder is not an absolute path";
    else if (WithoutTrailingSlashes(folder) == "/") reason = "the folder is the root folder";
    else {
        size_t start = 1;
        while (start <= folder.size()) {
            size_t end = folder.find('/', start);
            if (end == std::string::npos) end = folder.size();
            std::string part = folder.substr(start, end - start);
            if (part == "." || part == "..") {
                reason = "the folder holds \".\" or \"..\"";
                break;
            }
            start = end + 1;
        }
    }
    return reason.empty();
}

std::string UninstallFileOfLine(const std::string& folder, const std::string& line,
                                std::string& reason) {
    reason.clear();
    std::string name;
    if (line.empty()) reason = "empty line";
    else if (HasControlCharacters(line)) reason = "the line holds control characters";
    else if (line.find("://") != std::string::npos) reason = "not a file of the installation folder";
    else if (line[0] == '/') {
        size_t slash = line.rfind('/');
        std::string dir = WithoutTrailingSlashes(line.substr(0, slash + 1));
        if (dir != folder) reason = "the file is outside the installation folder";
        else name = line.substr(slash + 1);
    } else if (line.find('/') != std::string::npos) {
        reason = "the file is not directly in the installation folder";
    } else {
        name = line;
    }
    if (reason.empty() && (name.empty() || name == "." || name == ".."))
        reason = "not a file name";
    if (!reason.empty()) return {};
    return folder + "/" + name;
}
