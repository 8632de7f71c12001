// One message of a mailbox: its sizes, its text, the header values the
// analysis reads, the labels it writes and the flags of its state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CPrepareJob;
class CPlugInChain;

class CMailRecord
{
public:
    int32_t m_nNumber = 0;     // the message's number in the server's listing
    int32_t m_nListedSize = 0; // size in the server's LIST answer
    int32_t m_nReceived = 0;   // bytes stored so far during the download
    int32_t m_nSize = 0;       // size the mail client is told; follows every rewrite
    std::string m_strReturnPath;
    std::string m_strFrom;
    std::string m_strTo;
    std::string m_strCc;
    std::string m_strSubject;
    std::string m_strSpamType;
    std::string m_strFilterLabel;
    std::string m_strRuleText;
    std::string m_strRelays;
    bool m_bSpam = false;
    std::string m_strUidl;
    bool m_bAnalysed = false;
    bool m_bTrusted = false;
    int32_t m_nToCount = 0;
    int32_t m_nCcCount = 0;
    int32_t m_nClientNumber = 0;
    // The account the message was listed for (server host, port and user);
    // processed copies are reused only by the same account.
    std::string m_strAccount;
    // The server refused the retrieval: the message is left to the server
    // and the client's RETR and TOP for it are relayed.
    bool m_bRelayed = false;
    // The message text. Only the bytes that really arrived are held (never an
    // announced size); c_str() provides the terminating zero byte that the
    // text operations rely on.
    std::string m_pszText;
    // The analysis prepared in the background since the download ended;
    // the analysis collects it or drops it (see filter/PrepareWorker.h).
    std::shared_ptr<CPrepareJob> m_pPrepareJob;
    // The plug-ins asked about the message since then, on worker threads
    // (see filter/PlugInRunner.h); the analysis takes their answers or drops them.
    std::shared_ptr<CPlugInChain> m_pPlugInJob;

    // The listing gave this UIDL to another message too: it identifies
    // neither, so no copy is reused or kept for it.
    bool m_bUidlShared = false;
    // The client deleted the message in this session: the server accepted
    // its DELE (RSET brings the message back).
    bool m_bDeleted = false;
    // The retrieval of the message ended (whatever bytes it brought).
    bool m_bDownloaded = false;
    bool IsDownloaded() const { return m_bDownloaded; }
    // The text is not held here: the message store keeps it (its m_nSize
    // bytes), and whoever needs it reads it from there.
    bool m_bTextStored = false;

    // Copies size, received count, the first m_nSize bytes of text, the header
    // values, labels, UIDL, the three flags, the downloaded state and where
    // the text is; keeps the listed size, relays, recipient counts and client
    // number of this record.
    void assignFrom(const CMailRecord& other);
};
