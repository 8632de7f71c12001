// One mail-client connection (CSession) and one message of a mailbox
// (CMailRecord).
#pragma once

#include "proxy/OwnedList.h"

#include <cstdint>
#include <memory>
#include <string>

class CClientSocket;

class CMailRecord
{
public:
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
    // The message text. Only the bytes that really arrived are held (never an
    // announced size); c_str() provides the terminating zero byte that the
    // text operations rely on.
    std::string m_pszText;

    // Downloaded: a text is present and does not begin with a zero byte.
    bool IsDownloaded() const { return !m_pszText.empty() && m_pszText[0] != '\0'; }

    // Copies size, received count, the first m_nSize bytes of text, the header
    // values, labels, UIDL and the three flags; keeps the listed size, relays,
    // recipient counts and client number of this record.
    void assignFrom(const CMailRecord& other);
};

// Relay states of a session.
enum : int32_t {
    kStateRelay = 0,
};

class CSession
{
public:
    CSession();
    virtual ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    // Closes the client connection, then the server connection, and forgets both.
    void CloseConnections();

    std::unique_ptr<CClientSocket> m_pServer;
    std::unique_ptr<CClientSocket> m_pClient;
    std::string m_strServerHost;
    int32_t m_nServerPort = 110;
    std::string m_strListAnswer;
    std::string m_strUidlAnswer;
    std::string m_strClientAddress;
    int32_t m_nMessageCount = 0;
    int32_t m_nMailboxSize = 0;
    int32_t m_nState = kStateRelay;
    OwnedList<CMailRecord> m_messages;
    int32_t m_nCurrentMessage = 0;
    bool m_bGreetingPending = true;
    bool m_bAnswerAsList = true;
    std::string m_strUserCommand;
    int32_t m_nNumber = 0;
    bool m_bTimerArmed = false;
    bool m_bTimerFired = false;
    bool m_bQuiet = false;
};
