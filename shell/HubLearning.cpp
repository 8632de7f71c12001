// The user's corrections: a message said to be spam or not is taught to
// every loaded plug-in that can learn, on the worker threads, and the
// correction is shown on its rows and kept with it in the store. The mail
// already delivered stays as it is; the next messages benefit.
#include "shell/MainDialog.h"

#include "base/Format.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "decode/HeaderExtraction.h"

#include <algorithm>

namespace {

// The address of a From value: inside its angle brackets when it has them,
// else its word that holds an '@' (the header values are kept without the
// brackets), else the whole value.
std::string AddressOf(std::string_view from)
{
    const size_t open = from.rfind('<');
    if (open != std::string_view::npos) {
        const size_t close = from.find('>', open);
        if (close != std::string_view::npos && close > open + 1)
            return std::string(from.substr(open + 1, close - open - 1));
    }
    const size_t at = from.rfind('@');
    if (at != std::string_view::npos) {
        const size_t first = from.find_last_of(" \t\"<", at);
        const size_t last = from.find_first_of(" \t\">", at);
        const size_t begin = first == std::string_view::npos ? 0 : first + 1;
        return std::string(from.substr(begin, (last == std::string_view::npos ? from.size() : last) - begin));
    }
    const size_t first = from.find_first_not_of(" \t\"");
    const size_t last = from.find_last_not_of(" \t\"");
    return first == std::string_view::npos ? std::string() : std::string(from.substr(first, last - first + 1));
}

} // namespace

std::string CMainDialog::LearningText(const CMailRecord& record)
{
    // What the marking put in (the tag, the verdict headers) comes out
    // again; a text whose insertions do not fit it is not taught.
    const std::optional<std::string> received = ReceivedText(MessageText(record), record.m_insertions);
    return received ? *received : std::string();
}

void CMainDialog::CorrectVerdict(const CMailRecord& record, bool spam)
{
    const size_t start = std::min(record.m_strSubject.find_first_not_of(' '), record.m_strSubject.size());
    std::string subject(1, '"');
    subject.append(record.m_strSubject, start).push_back('"');
    AddLog(StrFormat(spam ? txt::kCorrectedSpam : txt::kCorrectedHam, subject.c_str()), true);
    if (!record.m_strUidl.empty()) {
        const char* cell = spam ? txt::kCellCorrectedSpam : txt::kCellCorrectedHam;
        for (int32_t row = 0; row < m_mailList.RowCount(); ++row)
            if (m_mailList.Cell(row, CMailListModel::kUidl) == record.m_strUidl)
                m_mailList.SetCell(row, CMailListModel::kSpam, cell);
        if (m_store.IsOpen() && !record.m_strAccount.empty())
            m_store.SetCorrection(record.m_strAccount, record.m_strUidl, spam);
    }

    const std::string text = LearningText(record);
    if (text.empty()) {
        AddLog(txt::kNothingToLearn, true);
        return;
    }
    // The plug-ins the settings name now, whether or not a check loaded them.
    m_plugIns.LoadAhead();
    const std::shared_ptr<CPlugInChain> chain = m_plugIns.MakeLearning(text, spam);
    if (!chain) {
        AddLog(txt::kNoLearner, true);
        return;
    }
    ++m_nLearning;
    m_plugIns.Runner().WhenSettled(chain, [this, chain] {
        QMetaObject::invokeMethod(
            this,
            [this, chain] {
                --m_nLearning;
                m_plugIns.ApplyLearning(*chain);
            },
            Qt::QueuedConnection);
    });
    m_plugIns.Runner().Start(chain);
}

std::string CMainDialog::CaughtByRule(const CMailRecord& record) const
{
    if (!record.m_bSpam || record.m_strSpamType == txt::kTypePlugIn || record.m_strSpamType == txt::kTypeTrust)
        return {};
    return record.m_strRuleText;
}

std::string CMainDialog::SenderAddress(const CMailRecord& record)
{
    return AddressOf(record.m_strFrom);
}

bool CMainDialog::TrustSender(const CMailRecord& record)
{
    const std::string address = SenderAddress(record);
    if (address.empty())
        return false;
    RuleList& trust = m_rules.List(kRuleTrust);
    if (!RuleListContains(address, trust))
        trust.append(std::make_unique<std::string>(w1252::Upper(address)));
    if (!m_rules.FilePath().empty() && !m_rules.Save()) {
        AddLog(StrFormat(txt::kRuleFileUnwritable, m_rules.FilePath().c_str()), true);
        return false;
    }
    AddLog(StrFormat(txt::kTrustAdded, address.c_str()), true);
    return true;
}

std::vector<SKeptMessage> CMainDialog::History(const SKeptQuery& query)
{
    if (!m_store.IsOpen())
        return {};
    std::vector<SKeptMessage> kept = m_store.Browse(query);
    // The store searches the header values as the rules see them (upper
    // case, encoded words as they came); the history shows them as the mail
    // list does, read once from each kept text.
    for (SKeptMessage& message : kept) {
        const std::string key = message.account + '\n' + message.uidl;
        auto it = m_shownHeaders.find(key);
        if (it == m_shownHeaders.end()) {
            std::string text;
            if (!m_store.LoadText(message.account, message.uidl, text))
                continue;
            const CHeaderFields fields = ReadHeaderFields(text, m_mailDecoder);
            it = m_shownHeaders.emplace(key, std::make_pair(m_mailDecoder.DecodeHeaderText(fields.m_strFrom, false),
                                                            fields.m_strSubject))
                     .first;
        }
        message.from = it->second.first;
        message.subject = it->second.second;
    }
    return kept;
}

bool CMainDialog::OpenKept(const SKeptMessage& message, CMailRecord& out)
{
    return m_store.IsOpen() && m_store.FindKept(message.account, message.uidl, out);
}
