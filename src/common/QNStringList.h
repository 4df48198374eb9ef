// The framework's string list: an ordered list of byte strings, each with an optional
// attached object, with sorted / duplicates / case-sensitivity settings, name=value
// access and text load/save.
//
// Indexes are 0-based, as in every list of the framework. Attached objects are shared:
// copying a line to another list (Assign, AddStrings, sorting) shares its object.
#pragma once

#include "common/SysUtils.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class TDuplicates { dupIgnore, dupAccept, dupError };

using TObjectPtr = std::shared_ptr<TObject>;

class EStringListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TQNStringList {
public:
    struct TItem {
        std::string Str;
        TObjectPtr Obj;
    };
    using TCompare = std::function<int(const TQNStringList&, int, int)>;

    TQNStringList() = default;
    TQNStringList(std::initializer_list<std::string> lines);
    virtual ~TQNStringList() = default;
    TQNStringList(const TQNStringList&) = default;
    TQNStringList& operator=(const TQNStringList&) = default;
    TQNStringList(TQNStringList&&) noexcept = default;
    TQNStringList& operator=(TQNStringList&&) noexcept = default;

    int Count() const { return static_cast<int>(FItems.size()); }
    bool Empty() const { return FItems.empty(); }
    const std::string& operator[](int i) const { return Item(i).Str; }
    const std::string& Strings(int i) const { return Item(i).Str; }
    void SetString(int i, std::string s);
    const TObjectPtr& Objects(int i) const { return Item(i).Obj; }
    void SetObject(int i, TObjectPtr obj);
    template <class T> T* ObjectAs(int i) const { return dynamic_cast<T*>(Item(i).Obj.get()); }

    // Add returns the index of the new line; in a sorted list a duplicate that is
    // ignored returns the index of the existing line, and dupError raises.
    int Add(std::string s, TObjectPtr obj = nullptr);
    void Insert(int i, std::string s, TObjectPtr obj = nullptr);  // not for sorted lists
    void Delete(int i);
    void Clear() { FItems.clear(); }
    void Exchange(int i, int j);
    void Move(int from, int to);
    void Assign(const TQNStringList& other);     // lines and objects, not the settings
    void AddStrings(const TQNStringList& other);
    // Assign for a list that is not needed afterwards: an unsorted list takes Other's
    // lines and objects without copying them. Other is left empty.
    void TakeFrom(TQNStringList&& other);
    // The list becomes the lines at Indexes, in that order and without their objects, as
    // Assign of such a list would make it; an index past the end gives an empty line.
    // Each index is named at most once: an unsorted list moves its lines, copying none.
    void Select(const std::vector<int>& indexes);
    void Reserve(int count) { FItems.reserve(count > 0 ? static_cast<size_t>(count) : 0); }

    // First line equal to s under the case rule; -1 when absent. Binary search when sorted.
    int IndexOf(std::string_view s) const;
    int IndexOfObject(const TObject* obj) const;
    // Binary search in a sorted list; Index is the match (the first of equal lines)
    // or the insertion point.
    bool Find(std::string_view s, int& index) const;

    bool Sorted() const { return FSorted; }
    void SetSorted(bool v);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates d) { FDuplicates = d; }
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool v);
    void Sort();
    void CustomSort(const TCompare& compare);
    int CompareStrings(std::string_view a, std::string_view b) const;

    // name=value access: the name of a line is the text before its first "=".
    int IndexOfName(std::string_view name) const;
    std::string Names(int i) const;
    std::string ValueFromIndex(int i) const;
    std::string Values(std::string_view name) const;
    void SetValue(std::string_view name, std::string_view value);  // empty value deletes

    // Text: lines joined by LF on output (LineBreak), split at CR LF, LF or CR on input.
    std::string Text(std::string_view lineBreak = "\n") const;
    void SetText(std::string_view text);
    std::string CommaText() const;
    void LoadFromFile(const std::string& path);           // raises on a missing file
    void SaveToFile(const std::string& path, std::string_view lineBreak = "\r\n") const;  // atomic

    std::vector<TItem>::const_iterator begin() const { return FItems.begin(); }
    std::vector<TItem>::const_iterator end() const { return FItems.end(); }
    std::vector<std::string> ToVector() const;

    bool operator==(const TQNStringList& other) const;

private:
    const TItem& Item(int i) const;
    TItem& Item(int i);
    void CheckUnsorted(const char* op) const;

    std::vector<TItem> FItems;
    bool FSorted = false;
    bool FCaseSensitive = false;
    TDuplicates FDuplicates = TDuplicates::dupIgnore;
};

// Splits text into lines at CR LF, LF or a lone CR. A final line break adds no empty
// line; an empty text gives no lines.
std::vector<std::string_view> SplitLines(std::string_view text);
