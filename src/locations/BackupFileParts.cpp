#include "locations/BackupFileParts.h"

TBackupFileParts::TBackupFileParts(TLocationOwner* owner)
    : TParts(owner), Target(TURLParts::Create(Owner)) {}

TBackupFileParts::~TBackupFileParts() {
    // The wrapped object deletes the file when it goes.
    if (Temporary && Target) Target->Temporary = true;
}

std::string TBackupFileParts::GetLocation() {
    Location = Target->GetLocation();
    return Location;
}

void TBackupFileParts::RebuildName() { Target->RebuildName(); }

void TBackupFileParts::SetLocation(const std::string& location, const std::string& info,
                                   const std::string& comment) {
    Location = location;
    Target = CreateParts(Owner, location, info, comment);
    CounterText = "0";
    Counter = 0;
    DiffSuffix.clear();
    ExtraSuffix.clear();
    ParseBackupName();
}
