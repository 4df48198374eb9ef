// The stored layout of a sync document: its section names and the lines of a new
// document's options. The document (SyncDocument.h) reads and writes this layout; the
// upgrade of older documents (SyncUpgrade.h) rewrites older layouts into it.
#pragma once

#include "common/QNStringList.h"

#include <string>
#include <string_view>

// --- Section names -------------------------------------------------------------------------

namespace SyncSection {
inline constexpr std::string_view Options = "Options";
inline constexpr std::string_view Profiles = "Profiles";
inline constexpr std::string_view Log = "Log";
inline constexpr std::string_view LogStats = "LogStats";
std::string Profile(int i);          // "Profile-i"
std::string Files(int i);            // "Profile-i-Files"
std::string FileInfo(int i);         // "Profile-i-Files\"FileInfo"
std::string Stats(int i);            // "Profile-i-Files\"Stats"
std::string FTPSourceLogin(int i);   // "Profile-i-FTPSourceLoginInfo"
std::string FTPDestLogin(int i);     // "Profile-i-FTPDestLoginInfo"
}  // namespace SyncSection

// The 18 lines of a new document's options, in order.
const TQNStringList& DefaultSyncOptionLines();
