// The rule file blacklist.txt and the rule set it fills: nine pattern lists
// and two recipient thresholds. Reading and writing the file's text are plain
// functions, so they can be tested on their own; CRuleSet is the set the
// analysis and the rule editor work on, loaded from and saved to the file.
#pragma once

#include "base/LogSink.h"
#include "base/OwnedList.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

using RuleList = OwnedList<std::string>;

// The nine lists of a rule set.
enum ERuleList : int {
    kRuleFrom = 0,
    kRuleTo,
    kRuleCc,
    kRuleBody,
    kRuleBodyHtml,
    kRuleSubject,
    kRuleRetPath,
    kRuleTrust,
    kRuleRelay,
    kRuleListCount
};

// The content of one rule set: the nine lists, in file order, entries upper
// case, and the recipient counts from which a message is spam (-1 = off).
struct SRuleLists {
    std::array<RuleList, kRuleListCount> lists;
    int32_t nbrTo = -1;
    int32_t nbrCc = -1;
};

// True when some entry of `list` equals `text` without regard to case.
bool RuleListContains(std::string_view text, const RuleList& list);

// Empties every list and switches both thresholds off (-1).
void ClearRuleSet(SRuleLists& rules);

// Fills the rule set from the content of a rule file (raw bytes; CRs are
// dropped wherever they stand, lines end at LF). The set is emptied first.
void ParseRuleFile(std::string_view content, SRuleLists& rules);

// The rule file text for the rule set, lines ending in LF (text-mode writing
// turns them into CR LF): the sections in their fixed order, each keyword on a
// line of its own followed by its entries or its threshold.
std::string FormatRuleFile(const SRuleLists& rules);

// The encoding a rule file was read in, and is written back in.
enum class ERuleFileEncoding {
    kWindows1252, // bytes as they are
    kUtf8,        // UTF-8 without a byte-order mark
    kUtf8Bom,     // UTF-8 after a byte-order mark
};

// The content of a rule file in the code page, and the encoding it was in:
// UTF-8 (with or without a byte-order mark) when it is well-formed UTF-8
// and holds a byte from 0x80 on, Windows-1252 otherwise. A zero byte ends
// the content. Characters the code page cannot hold become '?'.
std::string DecodeRuleFile(std::string_view content, ERuleFileEncoding* encoding);
// The rule file text in `encoding`.
std::string EncodeRuleFile(const std::string& text, ERuleFileEncoding encoding);

// The file name of the rule file inside the current directory.
inline constexpr const char kRuleFileName[] = "blacklist.txt";
// Longest directory path the rule file is looked for in.
inline constexpr size_t kMaxRuleFolderLength = 254;

// The rule set of the running program. Loading logs what it read, or that
// the file could not be read.
class CRuleSet
{
public:
    explicit CRuleSet(ILogSink& log) : m_log(log) {}
    CRuleSet(const CRuleSet&) = delete;
    CRuleSet& operator=(const CRuleSet&) = delete;

    RuleList& List(ERuleList which) { return m_set.lists[static_cast<size_t>(which)]; }
    const RuleList& List(ERuleList which) const { return m_set.lists[static_cast<size_t>(which)]; }
    int32_t& NbrTo() { return m_set.nbrTo; }
    int32_t NbrTo() const { return m_set.nbrTo; }
    int32_t& NbrCc() { return m_set.nbrCc; }
    int32_t NbrCc() const { return m_set.nbrCc; }
    const SRuleLists& Lists() const { return m_set; }
    // Which of the nine lists `list` is; -1 when it is none of them.
    int IndexOf(const RuleList& list) const;

    // Empties and refills the set from blacklist.txt in the current directory,
    // which becomes the file path.
    void Load();
    // Writes the set to the file path in the encoding it was read in; false
    // when it cannot be written.
    bool Save() const;
    // Where the set was last loaded from.
    const std::string& FilePath() const { return m_strFilePath; }
    // The encoding the file was read in, which Save writes; Windows-1252
    // when no file could be read.
    ERuleFileEncoding Encoding() const { return m_encoding; }

private:
    ILogSink& m_log;
    SRuleLists m_set;
    std::string m_strFilePath;
    ERuleFileEncoding m_encoding = ERuleFileEncoding::kWindows1252;
};
