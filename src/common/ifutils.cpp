#include "common/ifutils.h"

#include "common/QNStringUtils.h"
#include "common/SafeFile.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

TQNStringList& SharedStringList() {
    static TQNStringList list;
    return list;
}

// --- Temporary files ---------------------------------------------------------------------

std::string GetTempDir() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env != nullptr && env[0] == '/') ? std::string(env) : std::string("/tmp");
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string GetUniqueTempFileName() {
    std::string name = GetTempDir() + QNStringUtils().RandomString(3) + "XXXXXX.tmp";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    int fd = mkstemps(buf.data(), 4);
    if (fd < 0) {
        int err = errno;
        throw EFileError("Unable to create a temporary file in " + GetTempDir() + ": " +
                             SysErrorMessage(err),
                         err);
    }
    close(fd);
    return std::string(buf.data());
}

// --- Elapsed times -----------------------------------------------------------------------

std::string FormatElapsed(std::string_view Format, double Days) {
    if (!std::isfinite(Days)) throw EConvertError("Invalid elapsed time " + std::to_string(Days));
    return IntToStr(static_cast<int64_t>(std::floor(Days))) + ":" + FormatDateTime(Format, Days);
}

double ParseElapsed(std::string_view S) {
    auto field = [S](size_t from, size_t len) -> int {
        std::string_view f = from < S.size() ? S.substr(from, len) : std::string_view();
        bool ok = !f.empty();
        int v = 0;
        for (char c : f) {
            if (c < '0' || c > '9') ok = false;
            else v = v * 10 + (c - '0');
        }
        if (!ok)
            throw EConvertError("'" + std::string(f) + "' is not a valid integer value");
        return v;
    };
    double days = field(0, 3) + field(4, 2) / 24.0 + field(7, 2) / 1440.0 + field(10, 2) / 86400.0;
    return days > 999 ? 999 : days;
}

TDateTime IncSeconds(int64_t Seconds, TDateTime Base) {
    return Base + static_cast<double>(Seconds / 86400) +
           static_cast<double>(Seconds % 86400) / 86400.0;
}

// --- Path text ---------------------------------------------------------------------------

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

size_t LastSeparator(std::string_view s) { return s.find_last_of("/\\"); }

}  // namespace

std::string ExtractFileBaseName(std::string_view Path) {
    size_t sep = LastSeparator(Path);
    std::string_view name = sep == std::string_view::npos ? Path : Path.substr(sep + 1);
    return std::string(name.substr(0, name.find('.')));
}

std::string ExtractLastPathComponent(std::string_view Path) {
    std::string stripped = StripTrailingSeparators(Path);
    size_t sep = LastSeparator(stripped);
    if (sep == std::string::npos) return std::string(Path);
    return stripped.substr(sep + 1);
}

std::string ExtractPathAfterRoot(std::string_view Path) {
    if (!Path.empty() && Path[0] == '\\') {
        // "\\server\share\rest": the first "\\", a server name of at least one character
        // up to the next "\", a share name of at least one character up to the next "\".
        size_t p = Path.find("\\\\");
        if (p == std::string_view::npos) return {};
        size_t q = Path.find('\\', p + 3);
        if (q == std::string_view::npos) return {};
        size_t r = Path.find('\\', q + 2);
        if (r == std::string_view::npos) return {};
        return std::string(Path.substr(r + 1));
    }
    if (!Path.empty() && Path[0] == '/') {
        size_t i = Path.find_first_not_of('/');
        return i == std::string_view::npos ? std::string() : std::string(Path.substr(i));
    }
    size_t drive = Path.find(":\\");
    if (drive == std::string_view::npos) drive = Path.find(":/");
    if (drive == std::string_view::npos) return std::string(Path);
    return std::string(Path.substr(drive + 2));
}

std::string ExtractDir(std::string_view Path) {
    size_t sep = LastSeparator(Path);
    if (sep == std::string_view::npos) return std::string(Path);
    return std::string(Path.substr(0, sep + 1));
}

std::string ExtractParentDir(std::string_view Path) {
    return StripTrailingSeparators(ExtractDir(Path));
}

std::string StripTrailingSeparators(std::string_view Path) {
    std::string s = Trim(Path);
    while (!s.empty() && IsSeparator(s.back())) s.pop_back();
    return s;
}

// --- Sorting and searching string lists --------------------------------------------------

namespace {

using TItems = std::vector<TQNStringList::TItem>;

// Hoare partition around a copy of the middle element. Both scans are bounded by the
// range, so a comparison that contradicts itself cannot run them off the ends; each pass
// leaves two strictly smaller parts, so the sort always ends. The smaller part recurses,
// the larger loops, which keeps the depth logarithmic.
void QuickSort(TItems& a, int lo, int hi, const TSortCompare& compare) {
    while (lo < hi) {
        const TQNStringList::TItem pivot = a[static_cast<size_t>(lo + (hi - lo) / 2)];
        int i = lo, j = hi;
        while (i <= j) {
            while (i < hi && compare(a[static_cast<size_t>(i)], pivot) < 0) ++i;
            while (j > lo && compare(a[static_cast<size_t>(j)], pivot) > 0) --j;
            if (i <= j) {
                if (i != j) std::swap(a[static_cast<size_t>(i)], a[static_cast<size_t>(j)]);
                ++i;
                --j;
            }
        }
        if (j - lo < hi - i) {
            QuickSort(a, lo, j, compare);
            lo = i;
        } else {
            QuickSort(a, i, hi, compare);
            hi = j;
        }
    }
}

}  // namespace

void SortStrings(TQNStringList& List, const TSortCompare& Compare) {
    TItems items(List.begin(), List.end());
    QuickSort(items, 0, static_cast<int>(items.size()) - 1, Compare);
    List.Clear();
    for (auto& it : items) List.Add(std::move(it.Str), std::move(it.Obj));
}

int ForEachItem(TQNStringList& Strings, const TItemCallback& Callback) {
    int visited = 0;
    for (int i = 0; i < Strings.Count(); ++i) {
        std::string text = Strings[i];
        TObjectPtr obj = Strings.Objects(i);
        Callback(text, obj);
        if (text != Strings[i]) Strings.SetString(i, std::move(text));
        if (obj != Strings.Objects(i)) Strings.SetObject(i, std::move(obj));
        ++visited;
    }
    return visited;
}

bool FindSorted(const TQNStringList& List, std::string_view Text, int& Index) {
    // The run of lines equal to Text under the list's own rule ...
    int lo = 0, hi = List.Count();
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (List.CompareStrings(List[mid], Text) < 0) lo = mid + 1;
        else hi = mid;
    }
    int end = lo;
    while (end < List.Count() && List.CompareStrings(List[end], Text) == 0) ++end;
    // ... in which the exact text is looked for.
    for (int i = lo; i < end; ++i) {
        if (List[i] == Text) {
            Index = i;
            return true;
        }
    }
    Index = end;
    for (int i = lo; i < end; ++i) {
        if (CompareStr(List[i], Text) > 0) {
            Index = i;
            break;
        }
    }
    return false;
}

int FindContaining(const TQNStringList& List, std::string_view Text) {
    for (int i = 0; i < List.Count(); ++i)
        if (PosText(Text, List[i]) > 0) return i;
    return -1;
}

int FindFrom(const TQNStringList& List, std::string_view Text, int Start, bool Partial,
             bool Wrap) {
    auto matches = [&](int i) {
        return Partial ? PosText(Text, List[i]) > 0 : SameText(List[i], Text);
    };
    if (Start >= 0 && Start < List.Count()) {
        for (int i = Start; i < List.Count(); ++i)
            if (matches(i)) return i;
    } else if (!Wrap) {
        return -1;
    }
    if (Wrap) {
        for (int i = 0; i < List.Count(); ++i)
            if (matches(i)) return i;
    }
    return -1;
}

// --- Files and folders -------------------------------------------------------------------

bool DirectoryExists(const std::string& Path) {
    struct stat st {};
    return !Path.empty() && stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& Path) {
    struct stat st {};
    return !Path.empty() && stat(Path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool SameFileObject(const std::string& A, const std::string& B) {
    struct stat a {}, b {};
    return stat(A.c_str(), &a) == 0 && stat(B.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

void ForceDirectories(const std::string& Path) {
    std::string path = Path;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) throw EFileError("Unable to create directory", EINVAL);
    if (DirectoryExists(path)) return;
    // Every prefix that ends before a "/" is one level; the whole path is the last.
    size_t pos = path.find_first_not_of('/');
    while (pos != std::string::npos) {
        size_t next = path.find('/', pos);
        std::string level = path.substr(0, next);
        if (mkdir(level.c_str(), 0777) != 0) {
            int err = errno;
            if (err != EEXIST) {
                throw EFileError("Unable to create directory " + level + ": " +
                                     SysErrorMessage(err),
                                 err);
            }
            if (!DirectoryExists(level)) {
                throw EFileError("Unable to create directory " + level + ": " +
                                     SysErrorMessage(EEXIST),
                                 EEXIST);
            }
        }
        pos = next == std::string::npos ? next : path.find_first_not_of('/', next);
    }
}

// --- Hexadecimal -------------------------------------------------------------------------

std::string BufferToHex(std::span<const uint8_t> Buffer) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string r(Buffer.size() * 2, '\0');
    char* out = r.data();
    for (uint8_t b : Buffer) {
        *out++ = digits[b >> 4];
        *out++ = digits[b & 15];
    }
    return r;
}

std::string BufferToHex(const void* Buffer, size_t Count) {
    return BufferToHex(std::span<const uint8_t>(static_cast<const uint8_t*>(Buffer), Count));
}

size_t HexToBuffer(std::string_view Text, std::span<uint8_t> Buffer, size_t Count) {
    if (Count == 0) Count = Text.size() / 2;
    if (Count > Buffer.size()) Count = Buffer.size();
    for (size_t i = 0; i < Count; ++i) {
        int hi = 2 * i + 1 < Text.size() ? HexDigit(Text[2 * i]) : -1;
        int lo = 2 * i + 1 < Text.size() ? HexDigit(Text[2 * i + 1]) : -1;
        Buffer[i] = (hi < 0 || lo < 0) ? 0 : static_cast<uint8_t>(hi * 16 + lo);
    }
    return Count;
}

size_t HexToBuffer(std::string_view Text, void* Buffer, size_t BufferSize, size_t Count) {
    return HexToBuffer(Text, std::span<uint8_t>(static_cast<uint8_t*>(Buffer), BufferSize), Count);
}

std::string BytesToHex(std::span<const uint8_t> Buffer) { return BufferToHex(Buffer); }

size_t HexToBytes(std::string_view Text, std::span<uint8_t> Buffer, size_t Count) {
    return HexToBuffer(Text, Buffer, Count);
}
