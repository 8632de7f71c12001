// The analysed messages kept on disk: an SQLite database in the folder of the
// settings, one row per account and UIDL, written in WAL transactions so
// that a crash or a power cut never leaves half a record. The file is the
// user's alone (mode 0600). A database that cannot be read is logged, set
// aside under another name and replaced by an empty one.
#pragma once

#include "base/LogSink.h"
#include "base/MessageStore.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A kept message as the window's history lists it.
struct SKeptMessage {
    std::string account;
    std::string uidl;
    std::string from;
    std::string subject;
    std::string spamType;
    std::string ruleText;
    bool spam = false;
    int64_t kept = 0;       // when it was first kept, seconds since 1970 (0: before this was noted)
    int32_t corrected = -1; // the user's verdict: 1 spam, 0 not spam, -1 none
    bool gone = false;      // the server no longer lists it
};

// Which kept messages to list: those whose sender, subject or day
// (dd/mm/yyyy) holds `text` (without regard to case), with the verdict
// `verdict` (1 spam, 0 not spam, -1 both; a correction counts over the
// filter's), the most recently kept first, at most `limit`.
struct SKeptQuery {
    std::string text;
    int32_t verdict = -1;
    int32_t limit = 1000;
};

class CMessageStore final : public IMessageStore
{
public:
    explicit CMessageStore(ILogSink& log);
    ~CMessageStore() override;
    CMessageStore(const CMessageStore&) = delete;
    CMessageStore& operator=(const CMessageStore&) = delete;

    // Opens (or creates) the database at `path`, bounded to `maxBytes` of
    // message text. False, with a log line, when no database can be had.
    bool Open(const std::string& path, int64_t maxBytes);
    void Close();
    // A new bound, kept to from the next write on.
    void SetMaxBytes(int64_t maxBytes) { m_nMaxBytes = maxBytes; }
    // A mail check begins: a store that is busy elsewhere, on a full disk or
    // failing is said so once per check. Nothing ever waits on it: what it
    // cannot take now stays in memory, as without a store.
    void NewCheck() { m_bReported = false; }
    bool IsOpen() const { return m_pDb != nullptr; }
    const std::string& Path() const { return m_strPath; }
    // The bytes of message text kept, and the number of records.
    int64_t Bytes() const { return m_nBytes; }
    int64_t Count();

    bool Find(const std::string& account, const std::string& uidl, int32_t listedSize, CMailRecord& out,
              bool withText) override;
    bool LoadText(const std::string& account, const std::string& uidl, std::string& text) override;
    using IMessageStore::Put;
    std::vector<bool> Put(const std::string& account, const std::vector<const CMailRecord*>& records) override;
    void Remove(const std::string& account, const std::vector<std::string>& uidls) override;
    void Listed(const std::string& account, const std::vector<std::string>& uidls) override;
    bool SpokeTls(const std::string& server) override;
    // ---- the history: every message kept, on the server or no longer ----
    std::vector<SKeptMessage> Browse(const SKeptQuery& query);
    // The record kept for `uidl` of `account` with its text, whatever the
    // server lists now; never used to serve a message.
    bool FindKept(const std::string& account, const std::string& uidl, CMailRecord& out);
    // The user said the message is spam or not. False when it is not kept.
    bool SetCorrection(const std::string& account, const std::string& uidl, bool spam);

    void NoteTls(const std::string& server) override;
    // Copies the journal into the file (a check's writes only append to the
    // journal, up to a bound).
    void Idle() override;

private:
    class CStatement;
    // Opens the file at m_strPath, created for its owner alone, and prepares
    // it: SQLITE_OK, or the code of what failed (SQLITE_PERM when the system
    // refuses the file to this user, SQLITE_CANTOPEN for its other refusals,
    // whose errno is kept in m_nOpenErrno).
    int Connect();
    // What to log of a failed Connect.
    const char* Reason(int code) const;
    // Creates the table when missing and reads the totals: SQLITE_OK, the
    // failure's code, or SQLITE_NOTADB for a database that is not ours.
    int Prepare();
    // Adds the columns files of the first layout lack (old programs still
    // read such a file: they name the columns they use).
    int AddColumns();
    // Find, or with `history` also a record the server no longer lists.
    bool FindRecord(const std::string& account, const std::string& uidl, int32_t listedSize, CMailRecord& out,
                    bool withText, bool history);
    // A call failed with `code`: a damaged file is set aside and replaced;
    // any other failure is logged once per check.
    void Failed(int code);
    void Report(const char* why);
    void SetAside(const std::string& why);
    bool Exec(const char* sql);
    // Writes one record inside the open transaction: the whole of it, or
    // only what the analysis wrote when the same text is kept already. An
    // SQLite failure is left in `code`.
    bool PutOne(const std::string& account, const CMailRecord& record, int& code);
    // Drops the least recently used records until the text fits the bound.
    bool Evict();
    // The statement for `sql`, prepared on first use and kept until Close;
    // null with the failure's code.
    sqlite3_stmt* KeptStatement(const std::string& sql, int& code);

    ILogSink& m_log;
    sqlite3* m_pDb = nullptr;
    std::string m_strPath;
    int64_t m_nMaxBytes = 0;
    int64_t m_nBytes = 0;
    int64_t m_nStamp = 0; // the last use stamp given
    int m_nOpenErrno = 0; // why the system refused the file, or 0
    bool m_bReported = false; // a failure is in the log for this check
    std::map<std::string, sqlite3_stmt*> m_statements;
    uint64_t m_nGeneration = 0; // counts the closings, which finalise them
};
