// Destination names of a plain folder-to-folder mapping without the location model: the
// source root's folder text in front of an entry is replaced by the destination root's.
// This gives exactly what MapLocation gives for such a mapping, but only where it is sure
// to: Setup accepts only two folder locations without a virtual path, a destination
// without tags or a file name, and neither the single-folder nor the root-relative
// option; Map refuses every entry whose text the location model would change or refuse
// (tags, separator runs, "." and ".." components, NUL characters), and the caller then
// takes the general way.
#pragma once

#include "locations/URLParts.h"

#include <string>
#include <string_view>

class TPlainFolderMap {
public:
    // Prepares the mapping of entries below SourceRoot onto DestRoot; false (and Map
    // refuses everything) when the roots or options need the location model.
    bool Setup(TURLParts& sourceRoot, TURLParts& destRoot, bool nameOnly, bool afterRoot);
    // The same between two folders given as texts that end in "/" (of archives too:
    // "zip:///data/a.zip/sub/"): an entry's path below the one is its path below the
    // other. False (and Map refuses everything) when a prefix does not end in "/" or the
    // destination holds a tag.
    bool SetupPrefixes(std::string sourcePrefix, std::string destPrefix);
    bool Ready() const { return FReady; }
    // The destination of Entry (a folder when Folder is set) in Dest; false when the
    // entry has to go through the location model.
    bool Map(std::string_view entry, bool folder, std::string& dest) const;

private:
    bool FReady = false;
    std::string FSourcePrefix;  // the source root's folder with its separator
    std::string FDestPrefix;    // the destination root's folder with its separator
};
