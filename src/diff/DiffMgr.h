// Difference files of whole files on the disk: a file kept as its .diff against a master,
// rebuilt from it, and a backup put back as the live file.
//
// Safety rules:
// - A file is deleted for its .diff only once that .diff rebuilds it byte for byte; an
//   existing .diff of the same name that does not is kept beside the file, with a warning.
// - A rebuilt file goes to a temporary name and replaces what was there only when it is
//   complete and its CRCs match; a failed rebuild leaves the old file as it was.
// - A backup put back as the live file first gets the live file's content kept as the next
//   backup, unless an existing backup holds that content already.
//
// Local files only for now; status and log lines go through the owner.
#pragma once

#include <string>

class TLocationOwner;

class TDiffMgr {
public:
    explicit TDiffMgr(TLocationOwner& owner) : FOwner(owner) {}

    // Keeps File as "<File>.diff" against Master and deletes File; returns the .diff's
    // name, or empty when File stays (said in the log).
    std::string DiffFile(const std::string& master, const std::string& file);
    // Rebuilds DiffFile (any ".diff" in its name taken out, any case) against Master
    // (likewise); returns the rebuilt file's name, or empty on failure (logged). The .diff
    // stays.
    std::string UndiffFile(const std::string& diffFile, const std::string& master);
    // Puts Backup (a whole copy, not a .diff) back as its live file; the live file's
    // content is kept as a new backup first. False when nothing was restored (logged).
    bool RestoreBackupAsMaster(const std::string& backup, bool move);

    // The history of the live file File (its backups in its folder): every whole backup
    // but the newest becomes a .diff against its successor, oldest first; returns the
    // number made.
    int DiffHistory(const std::string& file);
    // Rebuilds every .diff backup of File's history in place, newest first, each against
    // its successor (the live file for the newest when no whole backup follows it); a
    // version that cannot be rebuilt stops every older one. Returns the number rebuilt.
    int UndiffHistory(const std::string& file);

    int CompLevel = 25;

private:
    void Log(const std::string& text, int level);
    TLocationOwner& FOwner;
};

// Makes Diff, the difference of File against Master, gives it File's date and deletes File,
// but only once Diff rebuilds File byte for byte. Returns empty when done, else why not
// (File then stays and no Diff is left).
std::string MakeVerifiedDifference(const std::string& master, const std::string& file, const std::string& diff,
                                   int level);
// Whether Diff, decoded against Reference, gives exactly the bytes of Original.
bool DifferenceRebuilds(const std::string& diff, const std::string& reference, const std::string& original);
// Name without every ".diff" (ignoring case).
std::string WithoutDiffSuffix(std::string name);
