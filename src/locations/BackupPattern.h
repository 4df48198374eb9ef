// The pattern by which backup names derive from a file's own name (see BackupFileParts.h).
// Each location owner keeps one; the backup names of its locations follow it.
#pragma once

#include "common/QNRegExpr.h"

#include <string>
#include <string_view>
#include <vector>

// The backup-name pattern with its tokens $File (the base name), $Ctr (the version in
// parentheses) and $Ext (the extension with its dot).
class TBackupPattern {
public:
    static constexpr std::string_view DefaultPattern = "$File Backup ($Ctr)$Ext";

    TBackupPattern();
    // Stores the pattern and lists its tokens in order of appearance.
    void SetBackupPattern(std::string_view pattern);
    const std::string& Pattern() const { return FPattern; }
    const std::vector<std::string>& Tokens() const { return FTokens; }

    // The pattern with the first "$File" replaced by File, the first "($Ctr)" by Ctr
    // (written "(" Ctr ")" when Ctr is not empty and holds no "(") and the first "$Ext"
    // by Ext. The replacements are made at the tokens' places in the pattern, so text
    // that File or Ext bring along is never taken for a token.
    std::string FillBackupPattern(std::string_view file, std::string_view ctr,
                                  std::string_view ext) const;
    // Matches a base name against the pattern ("(.*) Backup \((\w+)\)(.*)" for the
    // standard one, ignoring case); true with the text of each token when it matches.
    bool Parse(std::string_view baseName, std::string& file, std::string& ctr, std::string& ext);

private:
    std::string FPattern;
    std::vector<std::string> FTokens;
    TQNRegExpr FNameRegex;
    int FFileGroup = 1, FCtrGroup = 2, FExtGroup = 3;
};
