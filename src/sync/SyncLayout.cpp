#include "sync/SyncLayout.h"

namespace SyncSection {
std::string Profile(int i) { return "Profile-" + std::to_string(i); }
std::string Files(int i) { return Profile(i) + "-Files"; }
std::string FileInfo(int i) { return Files(i) + "\"FileInfo"; }
std::string Stats(int i) { return Files(i) + "\"Stats"; }
std::string FTPSourceLogin(int i) { return Profile(i) + "-FTPSourceLoginInfo"; }
std::string FTPDestLogin(int i) { return Profile(i) + "-FTPDestLoginInfo"; }
}  // namespace SyncSection

// --- Document options ----------------------------------------------------------------------

const TQNStringList& DefaultSyncOptionLines() {
    static const TQNStringList lines = {
        "SaveLogTimeOfDay=000000000000E03F",
        "SaveLogDaily=0",
        "DontSaveLog=0",
        "SaveLogWeekly=1",
        "ClearLogAfterSaving=1",
        "MaxLogLinesBeforeSaving=1000",
        "SaveLogDayOfWeek=0",
        "LogError=1",
        "LogWarning=1",
        "LogFileCopied=1",
        "LogFileBackedUp=1",
        "LogFileDeleted=1",
        "LogInformation=1",
        "TurnOffLogging=0",
        "AutoSaveInterval=555555555555953F",
        "HintsOn=1",
        "BackupLabel=$File Backup ($Ctr)$Ext",
        "NewVersionNotification=1",
    };
    return lines;
}
