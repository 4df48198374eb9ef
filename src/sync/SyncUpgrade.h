// Upgrading sync documents written by older versions.
//
// The "Version" of a document ("1.00" when absent) is compared with each threshold as a
// plain byte string; a step runs when the stored version is less. The steps run in this
// order:
//
//   2.02   the old layout: "SyncList" → "Profiles", "QuennickComponents" erased,
//          "DialogLog" appended to "Options", "FileMirrowyn_Log" → "Log"; each history
//          section "Files-<line>" of name=info lines split into names and "FileInfo
//   2.04   the default options merged into "Options" (existing keys win)
//   2.06   option bits 16-23 cleared in every "Option" value
//   2.10   "BackupLabel" reset to the standard pattern
//   2.491  ":FileInfo"/"*FileInfo" and ":Stats"/"*Stats" in section names → "FileInfo/"Stats
//   2.571  per profile i with line L: section L → "Profile-i", "Files-L" (and its
//          "FileInfo and "Stats) → "Profile-i-Files" (and its siblings)
//   3.05   option bits 24-31 cleared
//   3.021  history times from local to UTC MS-DOS date-times
//   3.212  12-byte history records (time, 32-bit size, attributes) widened to 24 bytes
//   3.39   "StartupProgramIcons" = "1"
//
// Every step is safe to run twice: a split, rename or widening touches only what is
// still in the old form, and nothing is overwritten (a section whose new name is taken
// stays where it is). A current document runs no step.
#pragma once

#include "common/QNMemIniFile.h"
#include "sync/SyncPrompter.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

struct TSyncUpgradeStep {
    std::string_view Threshold;
    void (*Run)(TQNMemIniFile& store, ISyncPrompter& prompter);
};

// The steps in the order they run.
std::span<const TSyncUpgradeStep> SyncUpgradeSteps();

// Whether a document of StoredVersion needs the step of Threshold (byte-wise less).
bool VersionBefore(std::string_view storedVersion, std::string_view threshold);

// Runs every step the stored version needs, in order; returns their thresholds.
std::vector<std::string> UpgradeSyncDocument(TQNMemIniFile& store, std::string_view storedVersion,
                                             ISyncPrompter& prompter);
