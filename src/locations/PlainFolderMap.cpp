#include "locations/PlainFolderMap.h"

#include "locations/DirectoryParts.h"

#include <typeinfo>

bool TPlainFolderMap::Setup(TURLParts& sourceRoot, TURLParts& destRoot, bool nameOnly,
                            bool afterRoot) {
    FReady = false;
    FSourcePrefix.clear();
    FDestPrefix.clear();
    if (nameOnly || afterRoot) return false;
    if (typeid(sourceRoot) != typeid(TDirectoryParts) || typeid(destRoot) != typeid(TDirectoryParts))
        return false;
    if (!sourceRoot.Scheme.empty() || !destRoot.Scheme.empty() || !sourceRoot.VirtualPath.empty() ||
        !destRoot.VirtualPath.empty() || !destRoot.Name.empty() || sourceRoot.Separator != "/" ||
        destRoot.Separator != "/")
        return false;
    std::string source = sourceRoot.GetContainer() + "/";
    std::string dest = destRoot.GetContainerPrefix();
    // Tags of the destination are expanded per entry; a relative root is left alone.
    if (source[0] != '/' || dest.empty() || dest[0] != '/' || dest.back() != '/' ||
        dest.find('<') != std::string::npos || dest.find('\0') != std::string::npos)
        return false;
    FSourcePrefix = std::move(source);
    FDestPrefix = std::move(dest);
    FReady = true;
    return true;
}

bool TPlainFolderMap::SetupPrefixes(std::string sourcePrefix, std::string destPrefix) {
    FReady = false;
    FSourcePrefix.clear();
    FDestPrefix.clear();
    if (sourcePrefix.empty() || sourcePrefix.back() != '/' || destPrefix.empty() || destPrefix.back() != '/' ||
        destPrefix.find('<') != std::string::npos || destPrefix.find('\0') != std::string::npos)
        return false;
    FSourcePrefix = std::move(sourcePrefix);
    FDestPrefix = std::move(destPrefix);
    FReady = true;
    return true;
}

bool TPlainFolderMap::Map(std::string_view entry, bool folder, std::string& dest) const {
    if (!FReady || entry.size() <= FSourcePrefix.size() ||
        entry.compare(0, FSourcePrefix.size(), FSourcePrefix) != 0)
        return false;
    const std::string_view rel = entry.substr(FSourcePrefix.size());
    // Every component a plain name: none empty (but a closing separator), ".", ".." or
    // with a tag's or a NUL's character.
    size_t start = 0;
    for (size_t i = 0; i <= rel.size(); ++i) {
        const char c = i < rel.size() ? rel[i] : '/';
        if (c == '<' || c == '\\' || c == '\0') return false;
        if (c != '/') continue;
        const size_t n = i - start;
        if (n == 0 && i < rel.size()) return false;
        if (n == 1 && rel[start] == '.') return false;
        if (n == 2 && rel[start] == '.' && rel[start + 1] == '.') return false;
        start = i + 1;
    }
    dest.reserve(FDestPrefix.size() + rel.size() + 1);
    dest.assign(FDestPrefix);
    dest.append(rel);
    if (folder && dest.back() != '/') dest += '/';
    return true;
}
