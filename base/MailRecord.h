// One message of a mailbox: its sizes, its text, the header values the
// analysis reads, the labels it writes and the flags of its state.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CPrepareJob;
class CPlugInChain;

// Bytes the program put into a message's text (the spam tag, a Subject line,
// the verdict headers): `length` bytes at `offset`, counted in the text as it
// stood when they went in (after the insertions before them).
struct STextInsertion {
    int32_t offset = 0;
    int32_t length = 0;
    bool operator==(const STextInsertion&) const = default;
};

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
    // What the marking inserted into m_pszText, in the order it went in;
    // empty when the text is as the server sent it (see ReceivedText).
    std::vector<STextInsertion> m_insertions;
    // TextChecksum of the first m_nChecksumLength bytes of m_pszText, taken
    // when the download ended so that keeping the message does not read the
    // whole text again on the way to the client's answer; a length of -1
    // when it was not taken. Any change of the text changes its length.
    int64_t m_nTextChecksum = 0;
    int64_t m_nChecksumLength = -1;
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

    // Copies size, received count, the first m_nSize bytes of text and what
    // was inserted into it, the header values, labels, UIDL, the three flags,
    // the downloaded state and where the text is; keeps the listed size, relays, recipient counts and client
    // number of this record.
    void assignFrom(const CMailRecord& other);

    // The first m_nSize bytes of the text (all of it when it is shorter):
    // what the client is sent, the store keeps and the checksum covers.
    std::string_view SizedText() const
    {
        return std::string_view(m_pszText).substr(0, static_cast<size_t>(std::max(m_nSize, 0)));
    }
};

// True when `insertions`, taken back from last to first, each lie inside a
// text of `size` bytes (as it stood when each went in).
bool InsertionsFit(size_t size, const std::vector<STextInsertion>& insertions);

// The message as the server sent it: `text` (a stored or served text) with
// `insertions` taken out, last first. This is the text to teach an engine
// with, never the tagged copy. It is the text as it came over POP3: lines as
// received (a leading dot still doubled) and the closing ".\r\n" when the
// retrieval brought one. Nothing when the insertions do not fit the text.
std::optional<std::string> ReceivedText(std::string_view text, const std::vector<STextInsertion>& insertions);
// The same for a record that holds its text (its first m_nSize bytes).
// Nothing when the text waits in the message store (m_bTextStored): read it
// with IMessageStore::LoadText and call the form above with m_insertions.
std::optional<std::string> ReceivedText(const CMailRecord& record);
