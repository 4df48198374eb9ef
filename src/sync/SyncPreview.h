// Preview lists of a sync: the source, history and destination lists of a profile
// written as text files beside the document, for a side-by-side comparison before the
// profile is synced.
#pragma once

#include "common/DateUtils.h"
#include "common/QNStringList.h"

#include <string>

// The file of one preview list: DocumentPath + "_" + the time as yyyy-mm-dd-hh-nn-ss +
// "_" + Kind + "File.txt" (Kind is "Source", "Hist" or "Dest").
std::string PreviewFileName(const std::string& documentPath, TDateTime time, const std::string& kind);

// Writes Names (with their 48-digit information records Infos) to Path, one entry a line:
// the record's display text, a blank and the location, in which every occurrence of
// Root (ignoring ASCII case) is replaced by Line, so that lists of different folders
// compare entry by entry. The file is replaced whole; raises on failure.
void WritePreviewList(const std::string& path, const TQNStringList& names, const TQNStringList& infos,
                      const std::string& root, const std::string& line);
