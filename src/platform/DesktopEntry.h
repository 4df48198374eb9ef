// The shortcut writer: menu entries as freedesktop desktop entries.
//
// A shortcut of the Programs menu is a desktop entry file (".desktop") below the user's
// applications folder, $XDG_DATA_HOME/applications/ (default ~/.local/share/
// applications/). Files in a subfolder of it appear in the desktop's menu under the
// file ID subfolder + "-" + file name (applications/Brevanta/Uninstall.desktop has the
// ID Brevanta-Uninstall.desktop); the menu places them by their Categories.
//
// Only the current user's folder is offered: the system-wide folders belong to the
// package manager, so UserFolder has the one value ufCurrentUser on Linux.
//
// Save writes one entry:
//   [Desktop Entry]
//   Type=Application
//   Name=<Name>              (the link file name without ".desktop" when Name is empty)
//   Comment=<Description>    (only when set)
//   Exec=<Target> <Arguments…>
//   Path=<WorkingDir>        (only when set)
//   Icon=<IconFile>          (only when set)
//   Terminal=false
//   Categories=AudioVideo;Audio;
//
// Exec quoting follows the desktop-entry rules: an argument (the target included) that is
// empty or holds a reserved character (blank, tab, " ' \ > < ~ | & ; $ * ? # ( ) `) is
// enclosed in double quotes, and inside the quotes ", `, $ and \ get a backslash; a
// literal "%" is written "%%" (a lone "%" would start a field code). Then every value is
// escaped as a string value: "\" as "\\", and a leading blank as "\s". Values must be
// valid UTF-8 without control characters; anything else is refused with
// EShellLinkError, and nothing is written.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

class EShellLinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Special folders of the shell: sfPrograms is the user's applications folder.
enum class TShellFolder { sfNone, sfPrograms };
// Whose special folder: the current user's (the only choice on Linux).
enum class TUserFolder { ufCurrentUser };

// One argument as Exec writes it, before the string-value escaping.
std::string QuoteExecArgument(const std::string& arg);
// The Exec value of a command (target first), quoted and escaped as it stands in the file.
std::string ExecLine(const std::string& target, const std::vector<std::string>& arguments);
// A string value as it stands in the file: "\" as "\\", a leading blank as "\s".
std::string EscapeDesktopValue(const std::string& value);

class TPBShellLink {
public:
    TShellFolder ShellFolder() const { return FShellFolder; }
    // A value other than sfNone recomputes LinkPath and FileName.
    void SetShellFolder(TShellFolder folder);
    TUserFolder UserFolder() const { return FUserFolder; }
    // Recomputes LinkPath and FileName when a shell folder is set.
    void SetUserFolder(TUserFolder folder);
    // The special folder's path followed by "/" (empty for sfNone).
    const std::string& LinkPath() const { return FLinkPath; }
    const std::string& LinkFileName() const { return FLinkFileName; }
    // ".desktop" is appended when the name lacks it; a bare ".desktop" (or an empty
    // name) leaves the link file name empty.
    void SetLinkFileName(const std::string& name);
    // The entry's full path: LinkPath + LinkFileName after a recompute, or set directly.
    const std::string& FileName() const { return FFileName; }
    void SetFileName(const std::string& fileName) { FFileName = fileName; }

    std::string Name;                     // the menu caption
    std::string Target;                   // the program the entry starts
    std::vector<std::string> Arguments;   // its arguments, one per element
    std::string WorkingDir;               // its start folder
    std::string Description;              // the entry's comment
    std::string IconFile;                 // an icon file (absolute) or an icon theme name

    // The entry's text as Save writes it; EShellLinkError for values that cannot be
    // written (no target, control characters, invalid UTF-8).
    std::string Text() const;
    // Writes the entry to FileName atomically (an existing entry is replaced whole).
    // EShellLinkError "Write error." (with the reason on the next line) when the file
    // cannot be written, or for the reasons Text gives.
    void Save() const;

private:
    void Recompute();

    TShellFolder FShellFolder = TShellFolder::sfNone;
    TUserFolder FUserFolder = TUserFolder::ufCurrentUser;
    std::string FLinkPath;
    std::string FLinkFileName;
    std::string FFileName;
};
