// What the proxy keeps of a scan: the processed copies in memory, the records
// in the message store (each batch of analysed messages in one transaction,
// and what arrived unanalysed when a session ends), and the texts that wait
// in the store rather than in memory.
#include "base/Format.h"
#include "base/MessageStore.h"
#include "base/TextChecksum.h"
#include "base/Texts.h"
#include "proxy/ProxyServer.h"
#include "proxy/Session.h"

#include <algorithm>

namespace {

void LeaveTextToStore(CMailRecord& record)
{
    // Swapped out, not assigned: an assignment may keep the old buffer.
    std::string().swap(record.m_pszText);
    record.m_bTextStored = true;
}

} // namespace

IMessageStore* CProxyServer::Store()
{
    return m_host.Store();
}

bool CProxyServer::Keeps(const CMailRecord& record)
{
    return Store() && !record.m_strUidl.empty() && !record.m_bUidlShared;
}

void CProxyServer::ReuseKept(CSession* session)
{
    IMessageStore* store = Store();
    const std::string account = session->Account();
    if (store && session->m_bUidlsListed) {
        // What the server no longer lists is gone for good.
        std::vector<std::string> listed;
        for (const CMailRecord* record : session->m_messages)
            if (Keeps(*record))
                listed.push_back(record->m_strUidl);
        store->Listed(account, listed);
    }
    std::string found;
    int32_t foundCount = 0;
    for (CMailRecord* record : session->m_messages) {
        CMailRecord* copy = ReusableCopy(*record, account);
        // The store is asked when no copy holds the text: a copy whose text
        // waits in the store is good while the store has it.
        CMailRecord stored;
        const bool kept = (!copy || copy->m_bTextStored) && Keeps(*record) &&
                          store->Find(account, record->m_strUidl, record->m_nListedSize, stored, false);
        if (copy && copy->m_bTextStored && !kept)
            copy = nullptr;
        if (!copy && kept) {
            // A download the analysis has not seen yet is analysed with
            // the others; its text is needed for that.
            if (stored.m_bAnalysed || store->LoadText(account, record->m_strUidl, stored.m_pszText)) {
                stored.m_bTextStored = stored.m_bAnalysed;
                copy = &stored;
            }
        }
        if (!copy)
            continue;
        record->assignFrom(*copy);
        if (!record->m_bAnalysed) {
            session->m_nUnanalysedBytes += static_cast<int64_t>(record->m_pszText.size());
            m_host.PrepareAnalysis(session, record);
            continue;
        }
        found += std::to_string(record->m_nNumber) + ", ";
        ++foundCount;
    }
    if (foundCount > 0) {
        found.resize(found.size() - 2);
        AddLog(StrFormat(foundCount == 1 ? txt::kAlreadyOne : txt::kAlreadyMany, found.c_str()), false);
    }
}

void CProxyServer::KeepDownload(CSession* session, CMailRecord* record)
{
    session->m_nUnanalysedBytes += static_cast<int64_t>(record->m_pszText.size());
    // Taken now, while the other messages still come, rather than in the
    // store's transaction that the client's answer waits for.
    if (Keeps(*record)) {
        record->m_nTextChecksum = TextChecksum(record->SizedText());
        record->m_nChecksumLength = static_cast<int64_t>(record->SizedText().size());
    }
    if (Keeps(*record) && session->m_nUnanalysedBytes >= m_nHeldTextBytes)
        AnalyseFinished(session, false, true);
    else
        AnalysePrepared(session);
}

void CProxyServer::AnalysePrepared(CSession* session)
{
    if (session->m_bAnalysing || m_host.AnalysisOff())
        return;
    // The messages that arrived first and in a row, as far as their
    // preparation is done: analysed in the mailbox's order, as they would be
    // at the end, so the log and the list read the same.
    // Each download ends here, so the messages already settled are passed
    // over once, not once per download. (A stale count only leaves work to
    // the run at the end of the scan.)
    OwnedList<CMailRecord>& messages = session->m_messages;
    const int32_t total = messages.count();
    int32_t n = std::min(session->m_nSettledCount, total);
    while (n < total && (messages.at(n + 1)->m_bAnalysed || messages.at(n + 1)->m_bRelayed))
        ++n;
    session->m_nSettledCount = n;
    int64_t bytes = 0;
    size_t count = 0;
    for (++n; n <= total; ++n) {
        const CMailRecord* record = messages.at(n);
        if (record->m_bAnalysed || record->m_bRelayed)
            continue;
        if (!record->IsDownloaded() || !m_host.Prepared(*record))
            break;
        bytes += static_cast<int64_t>(record->m_pszText.size());
        ++count;
    }
    const size_t least = std::max<size_t>(1, static_cast<size_t>(total) / 64);
    if (bytes >= m_nEarlyBatchBytes && count >= least)
        AnalyseFinished(session, false, false, count);
}

void CProxyServer::KeepUnfinished(CSession* session)
{
    IMessageStore* store = Store();
    if (!store || session->m_bKeepNothing || m_host.AnalysisOff())
        return;
    // What arrived before the session ended is kept as it came, for the
    // analysis of the next scan, which then downloads only the rest.
    std::vector<const CMailRecord*> arrived;
    for (const CMailRecord* record : session->m_messages)
        if (record->IsDownloaded() && !record->m_bAnalysed && !record->m_bRelayed && !record->m_bTextStored &&
            Keeps(*record))
            arrived.push_back(record);
    if (!arrived.empty())
        store->Put(session->Account(), arrived);
}

CProxyServer::EAnalysed CProxyServer::AnalyseFinished(CSession* session, bool always, bool release, size_t limit)
{
    if (session->m_bAnalysing) {
        session->m_bAnalysingRelease = session->m_bAnalysingRelease || release;
        return EAnalysed::kWaiting;
    }
    const int32_t number = session->m_nNumber;
    // Only what has arrived is analysed; the others wait as if analysed
    // while the run takes its records.
    std::vector<CMailRecord*> fresh, held;
    for (CMailRecord* record : session->m_messages) {
        if (record->m_bAnalysed)
            continue;
        if (record->IsDownloaded() && !record->m_bRelayed && fresh.size() < limit)
            fresh.push_back(record);
        else
            held.push_back(record);
    }
    if (fresh.empty() && !always)
        return EAnalysed::kDone;
    for (CMailRecord* record : held)
        record->m_bAnalysed = true;
    session->m_bAnalysing = true;
    session->m_analysing = std::move(fresh);
    session->m_bAnalysingRelease = release;
    const bool ended = m_host.AnalyseMessages(session);
    if (!Alive(session, number))
        return EAnalysed::kEnded;
    for (CMailRecord* record : held)
        record->m_bAnalysed = false;
    if (!ended)
        return EAnalysed::kWaiting;
    FinishAnalysis(session);
    return EAnalysed::kDone;
}

void CProxyServer::FinishAnalysis(CSession* session)
{
    const std::vector<CMailRecord*> fresh = std::move(session->m_analysing);
    const bool release = session->m_bAnalysingRelease;
    session->m_analysing.clear();
    session->m_bAnalysing = false;
    for (CMailRecord* record : fresh) {
        record->m_bAnalysed = true;
        record->m_pPrepareJob.reset();
        record->m_pPlugInJob.reset();
    }
    // What arrived while the run waited is still to be analysed.
    session->m_nUnanalysedBytes = 0;
    for (const CMailRecord* record : session->m_messages)
        if (record->IsDownloaded() && !record->m_bAnalysed && !record->m_bRelayed)
            session->m_nUnanalysedBytes += static_cast<int64_t>(record->m_pszText.size());
    Keep(session, fresh, release);
    // The texts just left to the store, and their preparations, are free.
    if (release)
        ReturnFreeMemory();
}

void CProxyServer::AnalysisSettled(CSession* session)
{
    if (!session || !session->m_bAnalysing)
        return;
    const int32_t number = session->m_nNumber;
    FinishAnalysis(session);
    if (session->m_bCompleteAfterAnalysis) {
        session->m_bCompleteAfterAnalysis = false;
        session->m_bWindowAfterAnalysis = false;
        CompleteScan(session);
        return;
    }
    if (session->m_bWindowAfterAnalysis) {
        session->m_bWindowAfterAnalysis = false;
        if (session->Scanning() && !session->m_bWindowed)
            session->OpenWindow();
        if (!Alive(session, number))
            return;
    }
    if (session->m_nUnanalysedBytes >= m_nHeldTextBytes && Store())
        AnalyseFinished(session, false, true);
}

void CProxyServer::Keep(CSession* session, const std::vector<CMailRecord*>& analysed, bool release)
{
    const std::string account = session->Account();
    std::vector<const CMailRecord*> keep;
    for (const CMailRecord* record : analysed)
        if (Keeps(*record))
            keep.push_back(record);
    // One transaction for them all.
    const std::vector<bool> kept = keep.empty() ? std::vector<bool>() : Store()->Put(account, keep);
    size_t next = 0;
    for (CMailRecord* record : analysed) {
        if (record->m_bUidlShared)
            continue;
        // `keep` lists the records to keep in the order of `analysed`.
        bool stored = false;
        if (next < keep.size() && keep[next] == record)
            stored = kept[next++];
        if (stored)
            session->m_keptUidls.push_back(record->m_strUidl);
        if (!ReusableCopy(*record, account))
            AddCopy(session, record, stored);
        // Past the bound the session's texts wait in the store.
        if (stored && release)
            LeaveTextToStore(*record);
    }
}

void CProxyServer::AddCopy(CSession* session, CMailRecord* record, bool textStored)
{
    const std::string account = session->Account();
    // A copy of an earlier form of the message (another size under the same
    // UIDL) is out of date.
    if (!record->m_strUidl.empty()) {
        std::vector<CMailRecord*> stale;
        for (CMailRecord* old : m_processedMails)
            if (old->m_strUidl == record->m_strUidl && old->m_strAccount == account)
                stale.push_back(old);
        for (CMailRecord* old : stale)
            m_processedMails.remove(old);
    }
    auto copy = std::make_unique<CMailRecord>();
    // A copy whose text the store has does not hold it twice.
    std::string text;
    if (textStored)
        text.swap(record->m_pszText);
    copy->assignFrom(*record);
    if (textStored) {
        text.swap(record->m_pszText);
        copy->m_bTextStored = true;
    }
    copy->m_nListedSize = record->m_nListedSize;
    copy->m_bAnalysed = true;
    copy->m_nClientNumber = session->m_nNumber;
    copy->m_strAccount = account;
    session->m_scanCopies.push_back(m_processedMails.append(std::move(copy)));
    while (m_processedMails.count() > std::max(Settings().m_nMaxMemoMsg, 0))
        m_processedMails.remove(m_processedMails.head());
}

bool CProxyServer::TextOf(const CMailRecord& record, std::string& holder, std::string_view& text)
{
    if (!record.m_bTextStored) {
        text = record.SizedText();
        return true;
    }
    IMessageStore* store = Store();
    if (!store || !store->LoadText(record.m_strAccount, record.m_strUidl, holder) ||
        holder.size() != static_cast<size_t>(std::max(record.m_nSize, 0)))
        return false;
    text = holder;
    return true;
}

void CProxyServer::ForgetCopies(CSession* session)
{
    for (const CMailRecord* copy : session->m_scanCopies) {
        // Copies leave the list from its head: one already gone may have
        // left its address to another session's copy.
        if (m_processedMails.indexOf(copy) >= 0 && copy->m_nClientNumber == session->m_nNumber)
            m_processedMails.remove(copy);
    }
    session->m_scanCopies.clear();
    if (IMessageStore* store = Store())
        store->Remove(session->Account(), session->m_keptUidls);
    session->m_keptUidls.clear();
    session->m_bKeepNothing = true;
}
