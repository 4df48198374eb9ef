// Entries of PowerBuilder libraries: pbN://LIBRARY/ENTRY, N the PowerBuilder version,
// the entry named with its type suffix. This unit holds the parse; the library access is
// that of the library manager.
#pragma once

#include "locations/URLParts.h"

class TPBLFileParts : public TURLParts {
public:
    explicit TPBLFileParts(TLocationOwner* owner);
    static std::unique_ptr<TURLParts> Create(TLocationOwner* owner);

    std::string Version;  // the digits of "pb(\d+)://"

    TPartsClass PartsClass() const override { return &TPBLFileParts::Create; }
    std::string_view SeparatorChars() const override { return "/"; }
    // The common parse; Path (the library file) loses its trailing separators.
    void SetLocation(const std::string& location, const std::string& info = {},
                     const std::string& comment = {}) override;
    std::string GetLocation() override;  // "pb" + Version + "://" + Path + "/" + Name
    std::string GetContainerPrefix() override { return Scheme + Path + "/"; }
    std::string GetContainerPath() override;  // the folder that holds the library
    std::string GetContainer() override { return Path; }
    bool IsValid() override;  // Version is a number above 0
    void CopyFrom(const TURLParts& other) override;
};
