#include "sync/SyncPreview.h"

#include "common/SafeFile.h"
#include "locations/URLParts.h"
#include "search/FindFiles.h"

#include <cctype>

namespace {

// Source with every occurrence of Find, compared ignoring ASCII case, replaced.
std::string ReplaceIgnoringCase(const std::string& source, const std::string& find, const std::string& with) {
    if (find.empty()) return source;
    auto lower = [](std::string s) {
        for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string folded = lower(source), key = lower(find);
    std::string out;
    size_t at = 0;
    for (size_t hit; (hit = folded.find(key, at)) != std::string::npos; at = hit + key.size())
        out.append(source, at, hit - at).append(with);
    return out.append(source, at, std::string::npos);
}

}  // namespace

std::string PreviewFileName(const std::string& documentPath, TDateTime time, const std::string& kind) {
    return documentPath + "_" + FormatDateTime("yyyy-mm-dd-hh-nn-ss", time) + "_" + kind + "File.txt";
}

void WritePreviewList(const std::string& path, const TQNStringList& names, const TQNStringList& infos,
                      const std::string& root, const std::string& line) {
    std::string text;
    for (int i = 0; i < names.Count(); ++i) {
        const auto info = i < infos.Count() ? TFileInfoRec::FromHex(infos[i]) : std::nullopt;
        text += FormatInfo(info ? *info : TFileInfoRec{});
        text += ' ';
        text += ReplaceIgnoringCase(names[i], root, line);
        text += '\n';
    }
    WriteFileAtomic(path, text);
}
