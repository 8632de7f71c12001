#include "filter/RuleSet.h"

#include "base/Numbers.h"
#include "base/Paths.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <algorithm>
#include <memory>
#include <unordered_set>

namespace {

// A section keyword and what it fills: a list, or one of the thresholds.
enum ESection : int { kNoSection = -1, kNbrToSection = 100, kNbrCcSection = 101 };

struct SectionKeyword {
    const char* keyword;
    int section;
};

// Keywords as they are recognised when reading.
constexpr SectionKeyword kReadKeywords[] = {
    {"FROM:", kRuleFrom},         {"TO:", kRuleTo},           {"CC:", kRuleCc},
    {"BODY:", kRuleBody},         {"NBRTO:", kNbrToSection},  {"NBRCC:", kNbrCcSection},
    {"SUBJECT:", kRuleSubject},   {"RETPATH:", kRuleRetPath}, {"BODYHTML:", kRuleBodyHtml},
    {"TRUST:", kRuleTrust},       {"RELAY:", kRuleRelay},
};

// The order in which the sections are written.
constexpr SectionKeyword kWriteOrder[] = {
    {"FROM:", kRuleFrom},       {"RETPATH:", kRuleRetPath}, {"TO:", kRuleTo},
    {"NBRTO:", kNbrToSection},  {"CC:", kRuleCc},           {"NBRCC:", kNbrCcSection},
    {"SUBJECT:", kRuleSubject}, {"BODY:", kRuleBody},       {"BODYHTML:", kRuleBodyHtml},
    {"TRUST:", kRuleTrust},     {"RELAY:", kRuleRelay},
};

int SectionOf(std::string_view line)
{
    for (const SectionKeyword& k : kReadKeywords)
        if (w1252::EqualsNoCase(line, k.keyword))
            return k.section;
    return kNoSection;
}

} // namespace

bool RuleListContains(std::string_view text, const RuleList& list)
{
    for (const std::string* entry : list)
        if (w1252::EqualsNoCase(*entry, text))
            return true;
    return false;
}

void ClearRuleSet(SRuleLists& rules)
{
    for (RuleList& list : rules.lists)
        list.clear();
    rules.nbrTo = -1;
    rules.nbrCc = -1;
}

void ParseRuleFile(std::string_view content, SRuleLists& rules)
{
    ClearRuleSet(rules);
    // A zero byte ends the content.
    if (const size_t zero = content.find('\0'); zero != std::string_view::npos)
        content = content.substr(0, zero);
    std::string text;
    text.reserve(content.size());
    for (char c : content)
        if (c != '\r')
            text.push_back(c);

    // Every line is upper-cased before it is stored, so "equal without regard
    // to case" is plain equality of the upper-case forms: a hash set per list
    // keeps large rule files linear.
    std::array<std::unordered_set<std::string>, kRuleListCount> seen;
    int section = kNoSection;
    size_t start = 0;
    while (true) {
        const size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        w1252::UpperInPlace(line);
        if (const int keyword = SectionOf(line); keyword != kNoSection) {
            section = keyword;
        } else if (!line.empty() && section != kNoSection) {
            if (section == kNbrToSection) {
                rules.nbrTo = AtoiSaturating(line);
            } else if (section == kNbrCcSection) {
                rules.nbrCc = AtoiSaturating(line);
            } else if (seen[static_cast<size_t>(section)].insert(line).second) {
                rules.lists[static_cast<size_t>(section)].append(std::make_unique<std::string>(std::move(line)));
            }
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
}

std::string FormatRuleFile(const SRuleLists& rules)
{
    std::string out;
    for (const SectionKeyword& k : kWriteOrder) {
        out += k.keyword;
        out += '\n';
        if (k.section == kNbrToSection || k.section == kNbrCcSection) {
            const int32_t value = k.section == kNbrToSection ? rules.nbrTo : rules.nbrCc;
            if (value != -1)
                out += std::to_string(value) + "\n";
            continue;
        }
        for (const std::string* entry : rules.lists[static_cast<size_t>(k.section)])
            out += *entry + "\n";
    }
    return out;
}

namespace {
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
} // namespace

std::string DecodeRuleFile(std::string_view content, ERuleFileEncoding* encoding)
{
    if (const size_t zero = content.find('\0'); zero != std::string_view::npos)
        content = content.substr(0, zero);
    const bool ascii =
        std::all_of(content.begin(), content.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || !w1252::IsUtf8(content)) {
        *encoding = ERuleFileEncoding::kWindows1252;
        return std::string(content);
    }
    *encoding = ERuleFileEncoding::kUtf8;
    if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        *encoding = ERuleFileEncoding::kUtf8Bom;
        content.remove_prefix(kByteOrderMark.size());
    }
    return w1252::FromUtf8(content);
}

std::string EncodeRuleFile(const std::string& text, ERuleFileEncoding encoding)
{
    switch (encoding) {
    case ERuleFileEncoding::kUtf8:
        return w1252::ToUtf8(text);
    case ERuleFileEncoding::kUtf8Bom:
        return std::string(kByteOrderMark) + w1252::ToUtf8(text);
    case ERuleFileEncoding::kWindows1252:
        break;
    }
    return text;
}

int CRuleSet::IndexOf(const RuleList& list) const
{
    for (int i = 0; i < kRuleListCount; ++i)
        if (&m_set.lists[static_cast<size_t>(i)] == &list)
            return i;
    return -1;
}

void CRuleSet::Load()
{
    ClearRuleSet(m_set);
    m_encoding = ERuleFileEncoding::kWindows1252;
    const std::string folder = CurrentDirectory();
    m_strFilePath = FindFile(folder, kRuleFileName);
    std::string content;
    // A folder path too long to be formed is treated like a missing file.
    if (folder.size() > kMaxRuleFolderLength || !ReadBinaryFile(m_strFilePath, content)) {
        m_log.AddLog(txt::kRuleFileUnreadable, true);
        return;
    }
    m_log.AddLog(std::string(txt::kLoading) + m_strFilePath + "\r\n", true);
    ParseRuleFile(DecodeRuleFile(content, &m_encoding), m_set);
}

bool CRuleSet::Save() const
{
    return ReplaceTextFile(m_strFilePath, EncodeRuleFile(FormatRuleFile(m_set), m_encoding));
}
