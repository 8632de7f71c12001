#include "base/MailRecord.h"

#include <algorithm>

void CMailRecord::assignFrom(const CMailRecord& other)
{
    m_nSize = other.m_nSize;
    m_nReceived = other.m_nReceived;
    m_pszText.assign(other.SizedText());
    m_insertions = other.m_insertions;
    // The checksum covers a prefix of the text, which the copy holds whole
    // or not at all (then the lengths differ).
    m_nTextChecksum = other.m_nTextChecksum;
    m_nChecksumLength = other.m_nChecksumLength;
    m_strReturnPath = other.m_strReturnPath;
    m_strFrom = other.m_strFrom;
    m_strTo = other.m_strTo;
    m_strCc = other.m_strCc;
    m_strSubject = other.m_strSubject;
    m_strSpamType = other.m_strSpamType;
    m_strFilterLabel = other.m_strFilterLabel;
    m_strRuleText = other.m_strRuleText;
    m_strUidl = other.m_strUidl;
    m_bSpam = other.m_bSpam;
    m_bAnalysed = other.m_bAnalysed;
    m_bTrusted = other.m_bTrusted;
    m_bDownloaded = other.m_bDownloaded;
    m_bTextStored = other.m_bTextStored;
}

bool InsertionsFit(size_t size, const std::vector<STextInsertion>& insertions)
{
    for (auto it = insertions.rbegin(); it != insertions.rend(); ++it) {
        if (it->offset < 0 || it->length < 0)
            return false;
        const size_t offset = static_cast<size_t>(it->offset), length = static_cast<size_t>(it->length);
        if (length > size || offset > size - length)
            return false;
        size -= length;
    }
    return true;
}

std::optional<std::string> ReceivedText(std::string_view text, const std::vector<STextInsertion>& insertions)
{
    if (!InsertionsFit(text.size(), insertions))
        return std::nullopt;
    std::string received(text);
    for (auto it = insertions.rbegin(); it != insertions.rend(); ++it)
        received.erase(static_cast<size_t>(it->offset), static_cast<size_t>(it->length));
    return received;
}

std::optional<std::string> ReceivedText(const CMailRecord& record)
{
    if (record.m_bTextStored)
        return std::nullopt;
    return ReceivedText(record.SizedText(), record.m_insertions);
}
