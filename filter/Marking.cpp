// Marking a message as spam: the "_SPAM_ " tag in its Subject, its mail-list
// row and its log line.
//
// The tag goes into the header only. The Subject and From fields are found by
// name without regard to case, with or without a blank after the colon; a
// message without either gets its Subject line at the start of the header.
// A Subject value that already holds "_SPAM_" is not tagged again. The size
// grows by exactly the bytes inserted, and each insertion is recorded so that
// the text as received can be had back (ReceivedText).
//
// With SpamHeaders on, a spam whose verdict is final also gets two fields at
// the very start of its header: "X-Spam-Flag: YES" and "X-Orvelane-Reason:"
// naming the filter type, the filter and the rule. At the start, they are the
// first fields of their name that a mail client reads (a server's own
// "X-Spam-Flag: NO" further down does not hide them), and they need no header
// end to be found.
#include "filter/Analysis.h"
#include "filter/MessageHeader.h"
#include "base/Format.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <cstring>
#include <limits>

namespace {

// The longest value written into X-Orvelane-Reason: its line stays far below
// the 998 bytes a header line may hold.
constexpr size_t kReasonMaxBytes = 200;

// Grows a size by the bytes inserted, staying at the 32-bit limit.
void Grow(int32_t& size, size_t inserted)
{
    const int64_t grown = int64_t(size) + int64_t(inserted);
    size = grown > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                       : static_cast<int32_t>(grown);
}

// Inserts `bytes` at `at` in the record's text, grows its size by as much and
// records the insertion.
void Insert(CMailRecord& record, size_t at, std::string_view bytes)
{
    record.m_pszText.insert(at, bytes);
    record.m_nChecksumLength = -1;
    Grow(record.m_nSize, bytes.size());
    record.m_insertions.push_back({static_cast<int32_t>(at), static_cast<int32_t>(bytes.size())});
}

} // namespace

void CAnalysis::MarkAsSpam(CMailRecord* record, int32_t row, const std::string& label)
{
    if (!record || record->m_bSpam)
        return;
    record->m_strSpamType = label;

    std::string& text = record->m_pszText;
    // The header: up to the first empty line, never past a zero byte.
    std::string_view whole(text.data(), std::strlen(text.c_str()));
    size_t headerEnd = FindHeaderEnd(whole);
    if (headerEnd == std::string_view::npos)
        headerEnd = whole.size();
    const std::string_view header = whole.substr(0, headerEnd);

    size_t tagAt = 0;
    bool alreadyTagged = false;
    if (const size_t subject = FindHeaderField(header, "Subject"); subject != std::string_view::npos) {
        const size_t valueStart = subject + std::strlen("Subject:");
        const size_t valueEnd = FieldEnd(header, subject);
        alreadyTagged = header.substr(valueStart, valueEnd - valueStart).find("_SPAM_") != std::string_view::npos;
        tagAt = valueStart + ((valueStart < header.size() && header[valueStart] == ' ') ? 1 : 0);
    } else {
        const size_t from = FindHeaderField(header, "From");
        const size_t lineAt = from == std::string_view::npos ? 0 : from;
        Insert(*record, lineAt, txt::kSubjectLine);
        tagAt = lineAt + std::strlen("Subject: ");
    }
    if (!alreadyTagged)
        Insert(*record, tagAt, txt::kSpamTag);

    // The row: the first whose Subject matches, else the one the caller holds
    // (rows move when the list is trimmed).
    int32_t target = row;
    for (int32_t i = 0; i < m_mailList.RowCount(); ++i)
        if (w1252::EqualsNoCase(m_mailList.Cell(i, CMailListModel::kSubject), record->m_strSubject)) {
            target = i;
            break;
        }
    m_mailList.SetCell(target, CMailListModel::kSpam,
                       label + w1252::Lower(" (" + record->m_strRuleText + ")"));
    record->m_bSpam = true;
    m_log.AddLog(StrFormat(txt::kSpamFound, target + 1, label.c_str(), record->m_strFilterLabel.c_str()), true);
}

std::string SpamReason(const CMailRecord& record)
{
    // "Subject (String search): VIAGRA", "Body: casino", "Nbr To": the
    // filter label only when it says more than the rule.
    std::string reason = record.m_strSpamType;
    if (!record.m_strFilterLabel.empty() && record.m_strFilterLabel != record.m_strRuleText)
        reason += " (" + record.m_strFilterLabel + ")";
    if (!record.m_strRuleText.empty())
        reason += ": " + record.m_strRuleText;
    return HeaderFieldValue(reason, kReasonMaxBytes);
}

void CAnalysis::AddSpamHeaders(CMailRecord* record)
{
    if (!record || !record->m_bSpam || !m_settings.m_bSpamHeaders || record->m_bTextStored)
        return;
    const std::string fields = std::string(txt::kSpamFlagLine) + txt::kReasonField + SpamReason(*record) + "\r\n";
    // A size at the 32-bit limit could not say the bytes added.
    if (int64_t(record->m_nSize) + int64_t(fields.size()) > std::numeric_limits<int32_t>::max())
        return;
    Insert(*record, 0, fields);
}
