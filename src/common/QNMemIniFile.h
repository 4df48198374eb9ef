// The sectioned settings store of the framework.
//
// A store is an ordered index of named sections; each section is a list of raw text
// lines. Lines of the form name=value can be read and written by name, and a section can
// also be used as a plain list of lines, because TQNMemIniFile::GetSection hands out the
// live line list.
//
//   TCustomIniFile   the abstract typed read/write interface
//   TMemIniFile      the in-memory store with a configurable header bracket pair ("[]")
//   TQNMemIniFile    direct access to the section lists
//   TFMWMemIniFile   "<>" headers, a sorted section index, hex values, merge, save-as
//
// Text format: one line per line of the store, CR LF after every line. A header line
// starts with the opening and ends with the closing bracket; the name between them may
// be empty and may hold any character. Every other line belongs verbatim to the section
// of the latest header; lines before the first header are dropped. Saving writes, per
// section in index order, the header, the lines, and one empty separator line. Loading
// accepts CR LF, LF or CR, ignores a leading UTF-8 byte-order mark, and drops the last
// line of a section only when it is empty (the separator the store writes), so a file
// the store wrote reads back exactly and the last line of a hand-made file is kept.
//
// Line breaks inside a value: WriteString stores every line break of the value (CR LF,
// a lone CR or a lone LF) as the character 5, so a value never spans lines or injects a
// header; ReadString turns every character 5 back into CR LF. Lines that callers put into
// a live section list are kept as given in memory; when the text form is built, a line
// break inside a line or a section name is written as the character 5 as well, so the
// file always has the structure of the store.
//
// Section names and value names compare case-insensitively (ASCII letters); lines are
// kept exactly as given. Construction of a store with a file name loads that file if it
// exists (a missing file gives an empty store; a file that exists but cannot be read
// raises EFileError). Destruction writes nothing: a store reaches the disk only through
// UpdateFile or SaveAs, which write atomically (temporary file, flush, rename) and leave
// the old file and the store unchanged when they fail.
#pragma once

#include "common/DateUtils.h"
#include "common/QNStringList.h"

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The character that stands for a line break inside a stored value.
inline constexpr char IniLineBreakChar = '\x05';

// Every line break (CR LF, CR or LF) of S as one character 5.
std::string EncodeIniLineBreaks(std::string_view s);
// Every character 5 of S as CR LF.
std::string DecodeIniLineBreaks(std::string_view s);

class TCustomIniFile {
public:
    explicit TCustomIniFile(std::string fileName);
    virtual ~TCustomIniFile();
    TCustomIniFile(const TCustomIniFile&) = delete;
    TCustomIniFile& operator=(const TCustomIniFile&) = delete;

    const std::string& FileName() const { return FFileName; }

    // Virtual operations, in the framework's slot order.
    virtual std::string ReadString(std::string_view section, std::string_view name,
                                   std::string_view def) const = 0;
    virtual void WriteString(std::string_view section, std::string_view name,
                             std::string_view value) = 0;
    // Decimal, or hexadecimal after "$", "0x" or "0X" ("0x" alone is unparsable).
    // Decimal text must fit 32 bits; hexadecimal text up to FFFFFFFF is taken as the
    // 32-bit pattern ("$FFFFFFFF" reads as -1). Anything else gives Default.
    virtual int ReadInteger(std::string_view section, std::string_view name, int def) const;
    virtual void WriteInteger(std::string_view section, std::string_view name, int value);
    virtual bool ReadBool(std::string_view section, std::string_view name, bool def) const;
    virtual void WriteBool(std::string_view section, std::string_view name, bool value);
    // Dates, times and numbers in the suite's fixed formats (FormatSettings()); an empty
    // or unparsable value gives Default.
    virtual TDateTime ReadDate(std::string_view section, std::string_view name,
                               TDateTime def) const;
    virtual TDateTime ReadDateTime(std::string_view section, std::string_view name,
                                   TDateTime def) const;
    virtual double ReadFloat(std::string_view section, std::string_view name, double def) const;
    virtual TDateTime ReadTime(std::string_view section, std::string_view name,
                               TDateTime def) const;
    virtual void WriteDate(std::string_view section, std::string_view name, TDateTime value);
    virtual void WriteDateTime(std::string_view section, std::string_view name, TDateTime value);
    virtual void WriteFloat(std::string_view section, std::string_view name, double value);
    virtual void WriteTime(std::string_view section, std::string_view name, TDateTime value);
    // Clears Strings, then adds the name of every line (empty for a line without "=").
    virtual void ReadSection(std::string_view section, TQNStringList& strings) const = 0;
    // Strings becomes the list of section names, in index order.
    virtual void ReadSections(TQNStringList& strings) const = 0;
    // Clears Strings, then copies every line of the section.
    virtual void ReadSectionValues(std::string_view section, TQNStringList& strings) const = 0;
    virtual void EraseSection(std::string_view section) = 0;
    virtual void DeleteKey(std::string_view section, std::string_view name) = 0;
    virtual void UpdateFile() = 0;

protected:
    std::string FFileName;
};

class TMemIniFile : public TCustomIniFile {
public:
    // Loads FileName when it is not empty and the file exists.
    explicit TMemIniFile(std::string fileName = {});
    ~TMemIniFile() override;

    // The value of the first line of the section whose name matches, with every
    // character 5 returned as CR LF; Default when the section or the name is missing.
    std::string ReadString(std::string_view section, std::string_view name,
                           std::string_view def) const override;
    // Creates the section if missing; the line becomes Name "=" Value (line breaks of
    // the value as character 5) and replaces the first line with that name in place, or
    // is appended. Raises EIniFileError for a name holding "=" (it could never be read
    // back) and for a line that would read back as a section header.
    void WriteString(std::string_view section, std::string_view name,
                     std::string_view value) override;
    void ReadSection(std::string_view section, TQNStringList& strings) const override;
    void ReadSections(TQNStringList& strings) const override;
    void ReadSectionValues(std::string_view section, TQNStringList& strings) const override;
    void EraseSection(std::string_view section) override;
    void DeleteKey(std::string_view section, std::string_view name) override;
    // Writes the text form to FileName atomically; raises EFileError when the file
    // cannot be written (old file and store unchanged), EIniFileError without a name.
    void UpdateFile() override;
    // Replaces the whole content by the parse of Lines.
    virtual void SetStrings(const TQNStringList& lines);
    // The same for lines that are views into a text.
    void SetLines(std::span<const std::string_view> lines) { DoSetLines(lines); }
    // Exchanges the whole content (sections, brackets, index order, file name) with Other.
    void Swap(TMemIniFile& other) noexcept;

    // Frees all sections.
    void Clear();
    // Appends the text form to Lines.
    void GetStrings(TQNStringList& lines) const;
    // The text form as it is saved (CR LF after every line).
    std::string Text() const;
    // If FileName differs (case-sensitive) from the current one, sets it and reloads
    // from it (a missing file gives an empty store). On a read error nothing changes.
    void Rename(const std::string& fileName);
    const std::string& Brackets() const { return FBrackets; }
    // Two characters: opening and closing character of a header line.
    void SetBrackets(std::string_view pair);
    // Creates an empty section and adds it to the index. An unsorted index takes a
    // second section of an existing name (lookups reach the first); a sorted index
    // returns the existing section instead.
    TQNStringList& AddSection(std::string_view name);

    int SectionCount() const { return static_cast<int>(FSections.size()); }
    // Name and lines of the Index-th section in index order (EIniFileError when out of
    // range).
    const std::string& SectionName(int index) const;
    const TQNStringList& SectionLines(int index) const;
    // The line list of a section, or nullptr when there is none; never creates one.
    TQNStringList* FindSection(std::string_view name);
    const TQNStringList* FindSection(std::string_view name) const;
    // The name as stored of the section that Name finds (ignoring case), or nullptr.
    const std::string* StoredSectionName(std::string_view name) const;

protected:
    struct TDeferLoad {};
    // For subclasses: sets the brackets and index order without loading; the most
    // derived constructor calls Load() once its own state is ready.
    TMemIniFile(std::string fileName, std::string_view brackets, bool sortedIndex, TDeferLoad);

    // Loads FFileName (when set and present) through DoSetLines.
    void Load();
    // Replaces the content by the parse of Lines; the single point every load goes
    // through, so subclasses can change how a text is parsed.
    virtual void DoSetLines(std::span<const std::string_view> lines);
    // The parse itself with an explicit bracket pair (rules above). A sorted index
    // appends the lines of a repeated header to the first section of that name.
    void ParseLines(std::span<const std::string_view> lines, char open, char close);

    bool SortedIndex() const { return FSortedIndex; }
    TQNStringList& MutableSectionLines(int index);
    int IndexOfSection(std::string_view name) const;

    bool RenameSectionEntry(std::string_view oldName, std::string_view newName);

private:
    struct TSection {
        std::string Name;
        std::unique_ptr<TQNStringList> Lines;
    };
    static std::vector<std::string_view> ReadLinesOf(const std::string& fileName,
                                                     std::string& text);
    size_t SortedPos(std::string_view name) const;

    std::vector<TSection> FSections;
    std::string FBrackets = "[]";
    bool FSortedIndex = false;
};

class TQNMemIniFile : public TMemIniFile {
public:
    explicit TQNMemIniFile(std::string fileName = {});

    // The live line list of the section, created (empty) if missing. The reference
    // stays valid until the section is erased or the store is cleared or reloaded.
    TQNStringList& GetSection(std::string_view name);
    // Renames the index entry in place (a sorted index is re-sorted); the live list
    // stays the same. False when OldName is missing or NewName names another section.
    bool RenameSection(std::string_view oldName, std::string_view newName);
    virtual bool SectionExists(std::string_view section) const;

protected:
    TQNMemIniFile(std::string fileName, std::string_view brackets, bool sortedIndex, TDeferLoad);
};

class TFMWMemIniFile : public TQNMemIniFile {
public:
    // "<>" headers and a sorted index; loads FileName into the sorted index, so lines
    // under a repeated header join the first section of that name.
    explicit TFMWMemIniFile(std::string fileName = {});

    using TMemIniFile::GetStrings;
    // Clears Lines first when asked, then appends the text form.
    void GetStrings(TQNStringList& lines, bool clearFirst) const;
    // Writes the text form to FileName atomically, then makes it the store's file name
    // (no reload). On failure raises EFileError; file name and content unchanged.
    void SaveAs(const std::string& fileName);
    // Decodes the value (Default when missing) as hexadecimal byte pairs into Buffer:
    // Size bytes, or half the value's length when Size is 0, but never more than
    // Buffer holds. A pair that is not hexadecimal, or missing, gives 0. Returns the
    // number of bytes written.
    size_t ReadHex(std::string_view section, std::string_view name, std::span<uint8_t> buffer,
                   size_t size, std::string_view def) const;
    // Writes the bytes as upper-case hexadecimal, two digits a byte, in memory order.
    void WriteHex(std::string_view section, std::string_view name,
                  std::span<const uint8_t> buffer);
    // For every section of Other: the section of the same name here gets Other's lines
    // merged in sorted order; a line already present (case-insensitive) is not added
    // twice. The list's own sorted and duplicate settings are kept.
    void MergeFrom(const TMemIniFile& other);
    // The line list of the Index-th section in index order; raises EIniFileError when
    // Index is out of range.
    TQNStringList& SectionByIndex(int index);

protected:
    TFMWMemIniFile(std::string fileName, TDeferLoad);
    // Detects the bracket pair: the first line that is a header in either style
    // decides, so stray lines before it do not hide the file; a "[…]" header parses the
    // text with "[]", a "<…>" header with "<>". The store writes "<>" afterwards either
    // way.
    void DoSetLines(std::span<const std::string_view> lines) override;
};
