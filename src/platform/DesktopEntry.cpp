#include "platform/DesktopEntry.h"

#include "common/SafeFile.h"
#include "platform/XdgDirs.h"

#include <string_view>

namespace {

const std::string_view LinkExtension = ".desktop";

bool EndsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        unsigned cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values beyond the Unicode range.
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += n + 1;
    }
    return true;
}

// Refuses what a desktop entry cannot carry.
void CheckValue(std::string_view what, const std::string& value) {
    for (char ch : value) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            throw EShellLinkError("Cannot write the menu entry: the " + std::string(what) +
                                  " holds control characters.");
    }
    if (!IsValidUtf8(value))
        throw EShellLinkError("Cannot write the menu entry: the " + std::string(what) +
                              " is not valid UTF-8 text.");
}

bool NeedsQuotes(const std::string& arg) {
    if (arg.empty()) return true;
    return arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
}

}  // namespace

std::string QuoteExecArgument(const std::string& arg) {
    const bool quoted = NeedsQuotes(arg);
    std::string r;
    if (quoted) r += '"';
    for (char c : arg) {
        if (c == '%') {
            r += "%%";
            continue;
        }
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) r += '\\';
        r += c;
    }
    if (quoted) r += '"';
    return r;
}

std::string EscapeDesktopValue(const std::string& value) {
    std::string r;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\') r += "\\\\";
        else if (c == ' ' && i == 0) r += "\\s";
        else r += c;
    }
    return r;
}

std::string ExecLine(const std::string& target, const std::vector<std::string>& arguments) {
    std::string line = QuoteExecArgument(target);
    for (const std::string& a : arguments) line += " " + QuoteExecArgument(a);
    return EscapeDesktopValue(line);
}

void TPBShellLink::SetShellFolder(TShellFolder folder) {
    FShellFolder = folder;
    if (folder != TShellFolder::sfNone) Recompute();
}

void TPBShellLink::SetUserFolder(TUserFolder folder) {
    FUserFolder = folder;
    if (FShellFolder != TShellFolder::sfNone) Recompute();
}

void TPBShellLink::SetLinkFileName(const std::string& name) {
    if (name.empty() || name == LinkExtension) FLinkFileName.clear();
    else if (EndsWith(name, LinkExtension)) FLinkFileName = name;
    else FLinkFileName = name + std::string(LinkExtension);
}

void TPBShellLink::Recompute() {
    switch (FShellFolder) {
        case TShellFolder::sfNone: FLinkPath.clear(); break;
        case TShellFolder::sfPrograms: FLinkPath = XdgDataHome() + "/applications/"; break;
    }
    FFileName = FLinkPath + FLinkFileName;
}

std::string TPBShellLink::Text() const {
    if (Target.empty()) throw EShellLinkError("Cannot write the menu entry: it has no target.");
    std::string name = Name;
    if (name.empty()) {
        std::string file = FFileName.substr(FFileName.rfind('/') + 1);
        name = EndsWith(file, LinkExtension) ? file.substr(0, file.size() - LinkExtension.size())
                                             : file;
    }
    if (name.empty()) throw EShellLinkError("Cannot write the menu entry: it has no name.");
    CheckValue("name", name);
    CheckValue("comment", Description);
    CheckValue("target", Target);
    for (const std::string& a : Arguments) CheckValue("argument", a);
    CheckValue("working folder", WorkingDir);
    CheckValue("icon", IconFile);

    std::string t = "[Desktop Entry]\nType=Application\n";
    t += "Name=" + EscapeDesktopValue(name) + "\n";
    if (!Description.empty()) t += "Comment=" + EscapeDesktopValue(Description) + "\n";
    t += "Exec=" + ExecLine(Target, Arguments) + "\n";
    if (!WorkingDir.empty()) t += "Path=" + EscapeDesktopValue(WorkingDir) + "\n";
    if (!IconFile.empty()) t += "Icon=" + EscapeDesktopValue(IconFile) + "\n";
    t += "Terminal=false\nCategories=AudioVideo;Audio;\n";
    return t;
}

void TPBShellLink::Save() const {
    std::string text = Text();
    if (FFileName.empty()) throw EShellLinkError("Write error.\nThe menu entry has no file name.");
    try {
        WriteFileAtomic(FFileName, text);
    } catch (const EFileError& e) {
        throw EShellLinkError(std::string("Write error.\n") + e.what());
    }
}
