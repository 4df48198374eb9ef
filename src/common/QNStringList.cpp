#include "common/QNStringList.h"

#include "common/SafeFile.h"

#include <algorithm>
#include <stdexcept>

TQNStringList::TQNStringList(std::initializer_list<std::string> lines) {
    for (const auto& l : lines) FItems.push_back({l, nullptr});
}

const TQNStringList::TItem& TQNStringList::Item(int i) const {
    if (i < 0 || i >= Count())
        throw EStringListError("List index out of bounds (" + std::to_string(i) + ")");
    return FItems[static_cast<size_t>(i)];
}

TQNStringList::TItem& TQNStringList::Item(int i) {
    return const_cast<TItem&>(static_cast<const TQNStringList*>(this)->Item(i));
}

void TQNStringList::CheckUnsorted(const char* op) const {
    if (FSorted) throw EStringListError(std::string("Operation not allowed on sorted list: ") + op);
}

int TQNStringList::CompareStrings(std::string_view a, std::string_view b) const {
    return FCaseSensitive ? CompareStr(a, b) : CompareText(a, b);
}

void TQNStringList::SetString(int i, std::string s) {
    CheckUnsorted("set string");
    Item(i).Str = std::move(s);
}

void TQNStringList::SetObject(int i, TObjectPtr obj) { Item(i).Obj = std::move(obj); }

int TQNStringList::Add(std::string s, TObjectPtr obj) {
    if (!FSorted) {
        FItems.push_back({std::move(s), std::move(obj)});
        return Count() - 1;
    }
    int index = 0;
    if (Find(s, index)) {
        if (FDuplicates == TDuplicates::dupIgnore) return index;
        if (FDuplicates == TDuplicates::dupError)
            throw EStringListError("String list does not allow duplicates");
        // dupAccept: insert after the equal lines, keeping their order of arrival.
        while (index < Count() && CompareStrings(FItems[static_cast<size_t>(index)].Str, s) == 0)
            ++index;
    }
    FItems.insert(FItems.begin() + index, {std::move(s), std::move(obj)});
    return index;
}

void TQNStringList::Insert(int i, std::string s, TObjectPtr obj) {
    CheckUnsorted("insert");
    if (i < 0 || i > Count())
        throw EStringListError("List index out of bounds (" + std::to_string(i) + ")");
    FItems.insert(FItems.begin() + i, {std::move(s), std::move(obj)});
}

void TQNStringList::Delete(int i) {
    Item(i);
    FItems.erase(FItems.begin() + i);
}

void TQNStringList::Exchange(int i, int j) {
    CheckUnsorted("exchange");
    std::swap(Item(i), Item(j));
}

void TQNStringList::Move(int from, int to) {
    CheckUnsorted("move");
    if (from == to) return;
    TItem item = Item(from);
    Item(to);
    FItems.erase(FItems.begin() + from);
    FItems.insert(FItems.begin() + to, std::move(item));
}

void TQNStringList::Assign(const TQNStringList& other) {
    if (&other == this) return;
    FItems.clear();
    AddStrings(other);
}

void TQNStringList::TakeFrom(TQNStringList&& other) {
    if (&other == this) return;
    if (FSorted) {
        Assign(other);
    } else {
        FItems = std::move(other.FItems);
    }
    other.FItems.clear();
}

void TQNStringList::Select(const std::vector<int>& indexes) {
    const int count = Count();
    if (FSorted) {
        TQNStringList picked;
        picked.Reserve(static_cast<int>(indexes.size()));
        for (int i : indexes) picked.Add(i >= 0 && i < count ? FItems[i].Str : std::string());
        Assign(picked);
        return;
    }
    std::vector<TItem> picked;
    picked.reserve(indexes.size());
    for (int i : indexes)
        picked.push_back(
            TItem{i >= 0 && i < count ? std::move(FItems[i].Str) : std::string(), nullptr});
    FItems = std::move(picked);
}

void TQNStringList::AddStrings(const TQNStringList& other) {
    if (&other == this) {
        auto copy = other.FItems;
        for (auto& it : copy) Add(it.Str, it.Obj);
        return;
    }
    if (!FSorted) {
        FItems.insert(FItems.end(), other.FItems.begin(), other.FItems.end());
        return;
    }
    for (const auto& it : other.FItems) Add(it.Str, it.Obj);
}

int TQNStringList::IndexOf(std::string_view s) const {
    if (FSorted) {
        int index = 0;
        return Find(s, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (CompareStrings(FItems[static_cast<size_t>(i)].Str, s) == 0) return i;
    return -1;
}

int TQNStringList::IndexOfObject(const TObject* obj) const {
    for (int i = 0; i < Count(); ++i)
        if (FItems[static_cast<size_t>(i)].Obj.get() == obj) return i;
    return -1;
}

bool TQNStringList::Find(std::string_view s, int& index) const {
    int lo = 0, hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int c = CompareStrings(FItems[static_cast<size_t>(mid)].Str, s);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) found = true;  // keep going left to the first equal line
        }
    }
    index = lo;
    return found;
}

void TQNStringList::SetSorted(bool v) {
    if (v && !FSorted) {
        FSorted = true;
        Sort();
    }
    FSorted = v;
}

void TQNStringList::SetCaseSensitive(bool v) {
    if (v == FCaseSensitive) return;
    FCaseSensitive = v;
    if (FSorted) Sort();
}

void TQNStringList::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(), [this](const TItem& a, const TItem& b) {
        return CompareStrings(a.Str, b.Str) < 0;
    });
}

void TQNStringList::CustomSort(const TCompare& compare) {
    CheckUnsorted("custom sort");
    // Sort an index permutation, so the comparer sees the list as it stands.
    std::vector<int> order(FItems.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return compare(*this, a, b) < 0; });
    std::vector<TItem> sorted;
    sorted.reserve(FItems.size());
    for (int i : order) sorted.push_back(std::move(FItems[static_cast<size_t>(i)]));
    FItems = std::move(sorted);
}

int TQNStringList::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& s = FItems[static_cast<size_t>(i)].Str;
        size_t eq = s.find('=');
        if (eq == std::string::npos) continue;
        if (CompareText(std::string_view(s).substr(0, eq), name) == 0) return i;
    }
    return -1;
}

std::string TQNStringList::Names(int i) const {
    const std::string& s = Item(i).Str;
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TQNStringList::ValueFromIndex(int i) const {
    const std::string& s = Item(i).Str;
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

std::string TQNStringList::Values(std::string_view name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TQNStringList::SetValue(std::string_view name, std::string_view value) {
    int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string line = std::string(name) + "=" + std::string(value);
    if (i >= 0 && !FSorted)
        FItems[static_cast<size_t>(i)].Str = std::move(line);
    else {
        if (i >= 0) Delete(i);
        Add(std::move(line));
    }
}

std::string TQNStringList::Text(std::string_view lineBreak) const {
    std::string r;
    for (const auto& it : FItems) {
        r += it.Str;
        r += lineBreak;
    }
    return r;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0, i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

void TQNStringList::SetText(std::string_view text) {
    FItems.clear();
    for (auto line : SplitLines(text)) Add(std::string(line));
}

std::string TQNStringList::CommaText() const {
    std::string r;
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (i) r += ',';
        const std::string& s = FItems[i].Str;
        bool quote = s.empty() || s.find_first_of(" ,\"") != std::string::npos;
        if (!quote) {
            r += s;
            continue;
        }
        r += '"';
        for (char c : s) {
            if (c == '"') r += '"';
            r += c;
        }
        r += '"';
    }
    return r;
}

void TQNStringList::LoadFromFile(const std::string& path) { SetText(ReadFileBytes(path)); }

void TQNStringList::SaveToFile(const std::string& path, std::string_view lineBreak) const {
    WriteFileAtomic(path, Text(lineBreak));
}

std::vector<std::string> TQNStringList::ToVector() const {
    std::vector<std::string> r;
    r.reserve(FItems.size());
    for (const auto& it : FItems) r.push_back(it.Str);
    return r;
}

bool TQNStringList::operator==(const TQNStringList& other) const {
    if (Count() != other.Count()) return false;
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Str != other.FItems[i].Str) return false;
    return true;
}
