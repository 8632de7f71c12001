#include "base/MailRecord.h"

#include <algorithm>

void CMailRecord::assignFrom(const CMailRecord& other)
{
    m_nSize = other.m_nSize;
    m_nReceived = other.m_nReceived;
    const size_t keep = std::min(other.m_pszText.size(), static_cast<size_t>(std::max(other.m_nSize, 0)));
    m_pszText.assign(other.m_pszText, 0, keep);
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
