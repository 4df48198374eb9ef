// Brevanta's installed layout and its menu entries.
//
// An installation is one folder (the installation folder, "lib/quennick/brevanta" below
// the install prefix) that holds the programs, the icon and UninstallInfo.txt, the list
// of the files the install placed there:
//
//   [Files]
//   brevanta
//   quennick-suite
//   quennick
//   brevanta.png
//   UninstallInfo.txt
//
// The menu entries live in the current user's applications folder, in the subfolder
// "Brevanta": Brevanta.desktop starts the program, Uninstall.desktop starts its
// uninstall (the program with "/UninstallApp"). The program rewrites both at every start;
// the uninstall removes the folder with them.
#pragma once

#include <string>

// File names inside the installation folder.
inline constexpr const char* ProgramFileName = "brevanta";
inline constexpr const char* IconFileName = "brevanta.png";
inline constexpr const char* UninstallInfoFileName = "UninstallInfo.txt";
// The folder that holds the installation folders of the maker's products.
inline constexpr const char* MakerFolderName = "quennick";

// <XdgDataHome>/applications/Brevanta, without a trailing "/".
std::string MenuEntriesFolder();

// Writes the two menu entries for the program in AppDir (creating the folder when it is
// missing): "Brevanta" runs AppDir/brevanta, "Uninstall Brevanta" runs it with
// "/UninstallApp"; both start in AppDir and show AppDir/brevanta.png when that exists.
// Raises EShellLinkError (or EFileError for the folder) when an entry cannot be written.
void CreateShortcuts(const std::string& appDir);

class TAppMgr;
// The refresh at every start (the router window calls it once the message loop runs):
// CreateShortcuts for the manager's program folder when that folder is an installation
// (it holds UninstallInfo.txt). A copy that runs from a build folder or was merely
// unpacked writes no entries: their uninstall could remove nothing, and nothing would
// ever remove them. A failure is shown to the user in a message box and the program
// goes on without its entries. Does nothing without a manager.
void CreateShortcuts(TAppMgr* mgr);

// Whether D may serve as the installation folder that the uninstall empties: an
// absolute path other than "/", without "." or ".." components and without control
// characters. Reason says why not.
bool IsAcceptableInstallFolder(const std::string& folder, std::string& reason);

// The file of the installation folder Folder (acceptable, without trailing "/") that a
// line of the Files list names: a bare file name, or a full path whose folder is exactly
// Folder. Empty, with Reason set, for anything else: an empty line, "." or "..",
// control characters, another folder (relative or absolute), or a location of another
// kind. Nothing outside Folder is ever named.
std::string UninstallFileOfLine(const std::string& folder, const std::string& line,
                                std::string& reason);
