// A location of any kind seen through the backup-name layer: it wraps one location
// object of the kind its text selects (Target) and passes the file operations to it.
// The backup names themselves ("report Backup (3).txt", counters, notes files) are
// parsed and composed by this class on top of that structure.
#pragma once

#include "locations/URLParts.h"

#include <memory>
#include <string>

class TBackupFileParts : public TParts {
public:
    // Creates an empty plain TURLParts as Target.
    explicit TBackupFileParts(TLocationOwner* owner);
    ~TBackupFileParts() override;

    int Counter = 0;                // 0 the file itself, N > 0 version N, -1 archive, -2 notes
    std::string CounterText = "0";  // the text between the parentheses as parsed
    std::unique_ptr<TURLParts> Target;
    std::string DiffSuffix;
    std::string ExtraSuffix;

    TPartsClass PartsClass() const override { return Target->PartsClass(); }
    TURLParts* URLTarget() override { return Target.get(); }

    std::string GetLocation() override;  // Target's location, also stored in Location
    void RebuildName() override;
    // Re-creates Target for the location's kind and sets it.
    void SetLocation(const std::string& location, const std::string& info = {},
                     const std::string& comment = {}) override;

    std::string GetContainerPath() override { return Target->GetContainerPath(); }
    std::string GetLocalFileName() override { return Target->GetLocalFileName(); }
    bool LocalFileExists() override { return Target->LocalFileExists(); }
    bool Delete(bool verbose) override { return Target->Delete(verbose); }
    bool WriteFromStream(TStream& stream, const TFileInfoRec& info) override {
        return Target->WriteFromStream(stream, info);
    }
    std::unique_ptr<TStream> OpenReadStream() override { return Target->OpenReadStream(); }
    bool FileExists() override { return Target->FileExists(); }
    bool ContainerExists() override { return Target->ContainerExists(); }
    int ForceContainerToExist() override { return Target->ForceContainerToExist(); }
    bool IsValid() override { return Target->IsValid(); }
    bool SetAttrib(uint32_t attributes) override { return Target->SetAttrib(attributes); }
    void CopyTo(TParts& dest, int mode, TCopyResult& result) override {
        Target->CopyTo(dest, mode, result);
    }
    void URLMoveTo(TParts& dest, int mode, TCopyResult& result) override {
        Target->URLMoveTo(dest, mode, result);
    }
    int RemoveEmptyFolders(TQNMemIniFile* store, bool includeSelf) override {
        return Target->RemoveEmptyFolders(store, includeSelf);
    }
    bool SetDate(uint32_t time) override { return Target->SetDate(time); }
    std::string GetContainer() override { return Target->GetContainer(); }
    std::string GetPathAndName() override { return Target->GetPathAndName(); }
    std::string MapLocation(TURLParts& sourceRoot, TURLParts& destRoot, bool nameOnly,
                            bool afterRoot) override {
        return Target->MapLocation(sourceRoot, destRoot, nameOnly, afterRoot);
    }
    std::string GetContainerPrefix() override { return Target->GetContainerPrefix(); }

protected:
    // Reads the backup-name parts (Counter, CounterText, suffixes) from Target's name.
    virtual void ParseBackupName() {}
};
