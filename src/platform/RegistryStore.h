// The file-backed registry store: a registry key of the suite, such as
// "Software\Quennick", as a settings store whose sections are its subkeys.
//
// Every root is one file of the settings-store format in the folder
// $XDG_CONFIG_HOME/Quennick/ (default ~/.config/Quennick/):
//
//   HKEY_CURRENT_USER.ini        the current user's keys (the normal root)
//   HKEY_USERS.DEFAULT.ini       the keys under HKEY_USERS\.DEFAULT (service simulation)
//
// The file has one "[…]" section per key that holds values, named by the key's full path
// below its root ("[Software\Quennick\FindFiles]"), sorted by name; a value is a
// name=value line. Paths compare case-insensitively, as registry keys do.
//
// A TRegistryIniFile opens one key: section "" is that key itself (where "DebugOn" lives),
// section "FindFiles\FTP\host:user" the subkey of that relative path. Empty path
// components are ignored, so "Software\Quennick\FindFiles\FTP\" names the same key as
// "Software\Quennick\FindFiles\FTP".
//
// Every write is saved at once: under an exclusive lock on the folder the file is read
// again, the change applied, and the file replaced atomically (temporary file, flush,
// rename). Writes of two processes therefore never lose each other's values and a reader
// never sees a torn file; a crash loses at most the write in progress. A write that
// changes nothing does not touch the disk. Reads use the content loaded last and read
// the file again when it has changed since (another instance or process wrote it). The
// folder is created (mode 0700) by the first write that changes something, never by a
// read. A failing save raises EFileError and leaves file and store as they were.
#pragma once

#include "common/QNMemIniFile.h"

#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <time.h>

enum class TRegistryRoot {
    rrCurrentUser,   // HKEY_CURRENT_USER
    rrUsersDefault,  // HKEY_USERS\.DEFAULT
};

class TRegistryFileStore;

class TRegistryIniFile : public TCustomIniFile {
public:
    // BaseFolder overrides $XDG_CONFIG_HOME/Quennick (for tests and tools). FileName()
    // is the normalised key path.
    TRegistryIniFile(TRegistryRoot root, std::string_view keyPath, std::string baseFolder = {});
    ~TRegistryIniFile() override;

    TRegistryRoot Root() const { return FRoot; }
    const std::string& KeyPath() const { return FFileName; }
    const std::string& Folder() const { return FFolder; }
    // The file that holds this root.
    const std::string& StorePath() const { return FStorePath; }

    // "HKEY_CURRENT_USER.ini" or "HKEY_USERS.DEFAULT.ini".
    static std::string RootFileName(TRegistryRoot root);
    // $XDG_CONFIG_HOME/Quennick
    static std::string DefaultFolder();

    std::string ReadString(std::string_view section, std::string_view name,
                           std::string_view def) const override;
    void WriteString(std::string_view section, std::string_view name,
                     std::string_view value) override;
    // Value names of the key.
    void ReadSection(std::string_view section, TQNStringList& strings) const override;
    // Names of the direct subkeys of the key, sorted, including keys that hold only
    // subkeys of their own.
    void ReadSections(TQNStringList& strings) const override;
    void ReadSectionValues(std::string_view section, TQNStringList& strings) const override;
    // Removes the subkey with all its values and subkeys. Section "" removes only the
    // values of the key itself, never its subkeys.
    void EraseSection(std::string_view section) override;
    void DeleteKey(std::string_view section, std::string_view name) override;
    // Nothing to do: every write is saved when it is made.
    void UpdateFile() override;

    // True when the key holds values or subkeys (or was written with no values).
    bool SectionExists(std::string_view section) const;

private:
    struct TStamp {
        bool Present = false;
        dev_t Dev = 0;
        ino_t Ino = 0;
        off_t Size = 0;
        timespec MTime{};
        bool operator==(const TStamp& o) const;
    };
    std::string FullKey(std::string_view section) const;
    TStamp StampOfFile() const;
    const TRegistryFileStore& Current() const;
    void Reload() const;
    template <class F>
    void Modify(F&& change);
    void ForceFolder() const;

    TRegistryRoot FRoot;
    std::string FFolder;
    std::string FStorePath;
    mutable std::unique_ptr<TRegistryFileStore> FStore;
    mutable TStamp FStamp;
    mutable bool FLoaded = false;
};
