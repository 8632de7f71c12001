#include "store/MessageStore.h"

#include "base/Format.h"
#include "base/TextChecksum.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Marks a database laid out as below; any other value is not ours.
constexpr int kSchemaVersion = 1;

constexpr const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS messages("
    " account BLOB NOT NULL, uidl BLOB NOT NULL, listed_size INTEGER NOT NULL,"
    " size INTEGER NOT NULL, received INTEGER NOT NULL,"
    " analysed INTEGER NOT NULL, spam INTEGER NOT NULL, trusted INTEGER NOT NULL,"
    " spam_type BLOB, filter_label BLOB, rule_text BLOB, return_path BLOB,"
    " sender BLOB, recipients BLOB, cc BLOB, subject BLOB,"
    " text BLOB NOT NULL, checksum INTEGER NOT NULL, used INTEGER NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS by_uidl ON messages(account, uidl);"
    "CREATE INDEX IF NOT EXISTS by_use ON messages(used);";

// Added to files of the same version when missing: the program that made
// them, which does not know it, still reads them.
constexpr const char kTlsServers[] = "CREATE TABLE IF NOT EXISTS tls_servers(server BLOB PRIMARY KEY) WITHOUT ROWID;";
// The same for the column `insertions` of messages: what the marking put into
// the text, "offset+length" pairs in the order they went in, separated by
// blanks. Absent (NULL, as a file of the earlier layout has it, and as the
// program before it writes a record) means nothing was inserted.
constexpr const char kInsertionsColumn[] = "ALTER TABLE messages ADD COLUMN insertions BLOB;";

std::string EncodeInsertions(const std::vector<STextInsertion>& insertions)
{
    std::string encoded;
    for (const STextInsertion& insertion : insertions) {
        if (!encoded.empty())
            encoded += ' ';
        encoded += std::to_string(insertion.offset) + '+' + std::to_string(insertion.length);
    }
    return encoded;
}

// Reads one decimal number at `pos`: digits only, at most the 32-bit limit.
bool ReadNumber(std::string_view text, size_t& pos, int32_t& value)
{
    const size_t start = pos;
    int64_t number = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        number = number * 10 + (text[pos++] - '0');
        if (number > std::numeric_limits<int32_t>::max())
            return false;
    }
    value = static_cast<int32_t>(number);
    return pos > start;
}

// False for anything EncodeInsertions does not write.
bool DecodeInsertions(std::string_view text, std::vector<STextInsertion>& insertions)
{
    insertions.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        if (!insertions.empty() && text[pos++] != ' ')
            return false;
        STextInsertion insertion;
        if (!ReadNumber(text, pos, insertion.offset) || pos >= text.size() || text[pos++] != '+' ||
            !ReadNumber(text, pos, insertion.length))
            return false;
        insertions.push_back(insertion);
    }
    return true;
}

// Columns added to files of the first layout when missing: when the record
// was first kept, the user's verdict on it, and whether the server still lists
// it (a record the server no longer lists is history: listed, never served).
constexpr const char* kAddedColumns[][2] = {
    {"kept", "ALTER TABLE messages ADD COLUMN kept INTEGER"},
    {"corrected", "ALTER TABLE messages ADD COLUMN corrected INTEGER"},
    {"gone", "ALTER TABLE messages ADD COLUMN gone INTEGER NOT NULL DEFAULT 0"},
    {"insertions", kInsertionsColumn},
};

bool Damaged(int code)
{
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// Why a store that is not damaged cannot be used now, for the log.
const char* Why(int code)
{
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return txt::kStoreWhyBusy;
    case SQLITE_FULL:
        return txt::kStoreWhyFull;
    default:
        return sqlite3_errstr(code);
    }
}

std::string Stamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%d-%H%M%S", &local);
    return buffer;
}

} // namespace

// One prepared statement, finalised when it goes out of scope; or one of
// the store's kept statements (those a check runs once per message), reset
// and its values let go when it goes out of scope.
class CMessageStore::CStatement
{
public:
    CStatement(sqlite3* db, const char* sql) { m_nCode = sqlite3_prepare_v2(db, sql, -1, &m_pStmt, nullptr); }
    CStatement(CMessageStore& store, const std::string& sql) : m_pStore(&store), m_nGeneration(store.m_nGeneration)
    {
        m_pStmt = store.KeptStatement(sql, m_nCode);
    }
    ~CStatement()
    {
        if (!m_pStore) {
            sqlite3_finalize(m_pStmt);
        } else if (m_pStmt && m_pStore->m_nGeneration == m_nGeneration) {
            // (A failure in between may have closed the file, and finalised
            // the statement with it.)
            sqlite3_reset(m_pStmt);
            sqlite3_clear_bindings(m_pStmt);
        }
    }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    bool Ok() const { return m_nCode == SQLITE_OK || m_nCode == SQLITE_ROW || m_nCode == SQLITE_DONE; }
    int Code() const { return m_nCode; }
    CStatement& Bind(int index, std::string_view bytes)
    {
        if (Ok())
            m_nCode = sqlite3_bind_blob64(m_pStmt, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
        return *this;
    }
    // The same without a copy: `bytes` must outlive the statement's use.
    CStatement& BindStatic(int index, std::string_view bytes)
    {
        if (Ok())
            m_nCode = sqlite3_bind_blob64(m_pStmt, index, bytes.data(), bytes.size(), SQLITE_STATIC);
        return *this;
    }
    CStatement& Bind(int index, int64_t value)
    {
        if (Ok())
            m_nCode = sqlite3_bind_int64(m_pStmt, index, value);
        return *this;
    }
    // True for a row; false at the end or on an error (Ok() tells which).
    bool Step()
    {
        if (!Ok())
            return false;
        m_nCode = sqlite3_step(m_pStmt);
        return m_nCode == SQLITE_ROW;
    }
    int64_t Int(int column) const { return sqlite3_column_int64(m_pStmt, column); }
    sqlite3_stmt* Handle() const { return m_pStmt; }
    std::string Bytes(int column) const
    {
        const void* data = sqlite3_column_blob(m_pStmt, column);
        const int length = sqlite3_column_bytes(m_pStmt, column);
        return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(length)) : std::string();
    }

private:
    sqlite3_stmt* m_pStmt = nullptr;
    int m_nCode = SQLITE_OK;
    CMessageStore* m_pStore = nullptr; // a kept statement's
    uint64_t m_nGeneration = 0;
};

sqlite3_stmt* CMessageStore::KeptStatement(const std::string& sql, int& code)
{
    code = SQLITE_OK;
    sqlite3_stmt*& kept = m_statements[sql];
    if (!kept) {
        code = sqlite3_prepare_v3(m_pDb, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &kept, nullptr);
        if (code != SQLITE_OK) {
            sqlite3_finalize(kept);
            m_statements.erase(sql);
            return nullptr;
        }
    }
    return kept;
}

CMessageStore::CMessageStore(ILogSink& log) : m_log(log) {}

CMessageStore::~CMessageStore()
{
    Close();
}

void CMessageStore::Close()
{
    for (auto& [sql, statement] : m_statements)
        sqlite3_finalize(statement);
    m_statements.clear();
    ++m_nGeneration;
    if (m_pDb)
        sqlite3_close_v2(m_pDb);
    m_pDb = nullptr;
}

bool CMessageStore::Open(const std::string& path, int64_t maxBytes)
{
    Close();
    m_strPath = path;
    m_nMaxBytes = maxBytes;
    const int code = Connect();
    if (code == SQLITE_OK)
        return true;
    const char* why = Reason(code);
    // A file this user may not open is set aside like a damaged one.
    if (Damaged(code) || code == SQLITE_PERM) {
        SetAside(why);
        return IsOpen();
    }
    // Busy elsewhere, or the disk failed: the file is left as it is.
    Report(why);
    return false;
}

const char* CMessageStore::Reason(int code) const
{
    return m_nOpenErrno ? std::strerror(m_nOpenErrno) : Why(code);
}

void CMessageStore::Report(const char* why)
{
    if (m_bReported)
        return;
    m_bReported = true;
    m_log.AddLog(StrFormat(txt::kStoreUnavailable, why), true);
}

int CMessageStore::Connect()
{
    // The file is created for its owner alone; the journal files SQLite adds
    // beside it take the same mode.
    const int fd = ::open(m_strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    m_nOpenErrno = fd < 0 ? errno : 0;
    if (fd < 0)
        return m_nOpenErrno == EACCES || m_nOpenErrno == EPERM ? SQLITE_PERM : SQLITE_CANTOPEN;
    ::fchmod(fd, 0600);
    ::close(fd);
    // No busy timeout: the store is used on the event loop's thread, and a
    // file another program holds is given up at once rather than waited on.
    int code = sqlite3_open_v2(m_strPath.c_str(), &m_pDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code == SQLITE_OK)
        code = Prepare();
    if (code != SQLITE_OK)
        Close();
    return code;
}

bool CMessageStore::Exec(const char* sql)
{
    const int code = sqlite3_exec(m_pDb, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        Failed(code);
    return code == SQLITE_OK;
}

int CMessageStore::Prepare()
{
    // WAL: a transaction is whole or absent after a crash, and readers do not
    // wait on the writer. NORMAL syncs at checkpoints, which WAL keeps safe.
    // A check's transaction leaves its pages in the journal; they are copied
    // into the file once no check is under way (Idle), or past 32 MB of them.
    // A new file gets 32 KB pages (before WAL, which fixes the size): most
    // texts then lie inside one page instead of a chain of small overflow
    // pages, and a check's texts go into the journal in far fewer writes.
    // An existing file keeps the size it has.
    int code = sqlite3_exec(m_pDb,
                            "PRAGMA page_size=32768; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;",
                            nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        return code;
    {
        // The checkpoint bound is counted in pages.
        CStatement size(m_pDb, "PRAGMA page_size");
        if (!size.Step())
            return size.Ok() ? SQLITE_ERROR : size.Code();
        const int64_t pageSize = std::max<int64_t>(size.Int(0), 512);
        const std::string bound = StrFormat("PRAGMA wal_autocheckpoint=%d;", static_cast<int>((int64_t(32) << 20) / pageSize));
        if ((code = sqlite3_exec(m_pDb, bound.c_str(), nullptr, nullptr, nullptr)) != SQLITE_OK)
            return code;
    }
    int64_t version = -1;
    {
        CStatement read(m_pDb, "PRAGMA user_version");
        if (read.Step())
            version = read.Int(0);
        if (!read.Ok())
            return read.Code();
    }
    if (version == 0) {
        // A new file, or one without our mark: only an empty one is taken.
        CStatement tables(m_pDb, "SELECT count(*) FROM sqlite_master");
        if (!tables.Step())
            return tables.Code();
        if (tables.Int(0) != 0)
            return SQLITE_NOTADB;
        const std::string create = std::string(kSchema) + StrFormat("PRAGMA user_version=%d;", kSchemaVersion);
        code = sqlite3_exec(m_pDb, create.c_str(), nullptr, nullptr, nullptr);
        if (code != SQLITE_OK)
            return code;
    } else if (version != kSchemaVersion) {
        return SQLITE_NOTADB;
    }
    code = sqlite3_exec(m_pDb, kTlsServers, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        return code;
    if ((code = AddColumns()) != SQLITE_OK)
        return code;
    CStatement totals(m_pDb, "SELECT total(length(text)), max(used) FROM messages");
    if (!totals.Step())
        return totals.Code();
    m_nBytes = totals.Int(0);
    m_nStamp = totals.Int(1);
    return SQLITE_OK;
}

int CMessageStore::AddColumns()
{
    std::set<std::string> columns;
    {
        CStatement info(m_pDb, "SELECT name FROM pragma_table_info('messages')");
        while (info.Step())
            columns.insert(info.Bytes(0));
        if (!info.Ok())
            return info.Code();
    }
    for (const auto& [name, sql] : kAddedColumns)
        if (!columns.count(name))
            if (const int code = sqlite3_exec(m_pDb, sql, nullptr, nullptr, nullptr); code != SQLITE_OK)
                return code;
    return SQLITE_OK;
}

void CMessageStore::Failed(int code)
{
    if (Damaged(code))
        SetAside(sqlite3_errstr(code));
    else
        Report(Why(code));
}

void CMessageStore::SetAside(const std::string& why)
{
    Close();
    const std::string aside = m_strPath + ".damaged-" + Stamp();
    m_log.AddLog(StrFormat(txt::kStoreSetAside, why.c_str(), aside.c_str()), true);
    // The journal files go with the file they belong to.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string from = m_strPath + suffix;
        if (std::rename(from.c_str(), (aside + suffix).c_str()) != 0 && errno != ENOENT)
            std::remove(from.c_str());
    }
    m_nBytes = 0;
    m_nStamp = 0;
    if (const int code = Connect(); code != SQLITE_OK)
        Report(Reason(code));
}

int64_t CMessageStore::Count()
{
    if (!m_pDb)
        return 0;
    CStatement count(m_pDb, "SELECT count(*) FROM messages");
    const int64_t n = count.Step() ? count.Int(0) : 0;
    if (!count.Ok())
        Failed(count.Code());
    return n;
}

bool CMessageStore::Find(const std::string& account, const std::string& uidl, int32_t listedSize, CMailRecord& out,
                         bool withText)
{
    return FindRecord(account, uidl, listedSize, out, withText, false);
}

bool CMessageStore::FindRecord(const std::string& account, const std::string& uidl, int32_t listedSize,
                               CMailRecord& out, bool withText, bool history)
{
    if (!m_pDb)
        return false;
    // Without the text, only its length is read.
    const std::string sql = std::string("SELECT listed_size, size, received, analysed, spam, trusted, spam_type,"
                                        " filter_label, rule_text, return_path, sender, recipients, cc, subject,"
                                        " insertions, ") +
                            (withText ? "text, checksum" : "length(text)") +
                            " FROM messages WHERE account=?1 AND uidl=?2" + (history ? "" : " AND gone=0");
    CStatement find(*this, sql);
    find.Bind(1, account).Bind(2, uidl);
    if (!find.Step()) {
        if (!find.Ok())
            Failed(find.Code());
        return false;
    }
    if (find.Int(0) != listedSize)
        return false;
    std::string text;
    std::vector<STextInsertion> insertions;
    const bool insertionsRead = DecodeInsertions(find.Bytes(14), insertions) &&
                                find.Int(1) >= 0 && InsertionsFit(static_cast<size_t>(find.Int(1)), insertions);
    if (withText) {
        text = find.Bytes(15);
        if (TextChecksum(text) != find.Int(16) || static_cast<int64_t>(text.size()) != find.Int(1) || !insertionsRead) {
            m_log.AddLog(StrFormat(txt::kStoreRecordDamaged, uidl.c_str()), true);
            Remove(account, {uidl});
            return false;
        }
    } else if (find.Int(15) != find.Int(1) || !insertionsRead) {
        return false;
    }
    out.m_nSize = static_cast<int32_t>(find.Int(1));
    out.m_nReceived = static_cast<int32_t>(find.Int(2));
    out.m_bAnalysed = find.Int(3) != 0;
    out.m_bSpam = find.Int(4) != 0;
    out.m_bTrusted = find.Int(5) != 0;
    out.m_strSpamType = find.Bytes(6);
    out.m_strFilterLabel = find.Bytes(7);
    out.m_strRuleText = find.Bytes(8);
    out.m_strReturnPath = find.Bytes(9);
    out.m_strFrom = find.Bytes(10);
    out.m_strTo = find.Bytes(11);
    out.m_strCc = find.Bytes(12);
    out.m_strSubject = find.Bytes(13);
    out.m_strUidl = uidl;
    out.m_bDownloaded = true;
    out.m_bTextStored = !withText;
    out.m_pszText = std::move(text);
    out.m_nTextChecksum = withText ? find.Int(16) : 0;
    out.m_nChecksumLength = withText ? static_cast<int64_t>(out.m_pszText.size()) : -1;
    out.m_insertions = std::move(insertions);
    return true;
}

bool CMessageStore::LoadText(const std::string& account, const std::string& uidl, std::string& text)
{
    if (!m_pDb)
        return false;
    CStatement load(*this, "SELECT text, checksum, size FROM messages WHERE account=?1 AND uidl=?2");
    load.Bind(1, account).Bind(2, uidl);
    if (!load.Step()) {
        if (!load.Ok())
            Failed(load.Code());
        return false;
    }
    text = load.Bytes(0);
    if (TextChecksum(text) != load.Int(1) || static_cast<int64_t>(text.size()) != load.Int(2)) {
        m_log.AddLog(StrFormat(txt::kStoreRecordDamaged, uidl.c_str()), true);
        text.clear();
        Remove(account, {uidl});
        return false;
    }
    return true;
}

std::vector<bool> CMessageStore::Put(const std::string& account, const std::vector<const CMailRecord*>& records)
{
    std::vector<bool> kept(records.size(), false);
    if (!m_pDb || records.empty() || !Exec("BEGIN IMMEDIATE"))
        return kept;
    const int64_t before = m_nBytes;
    int code = SQLITE_OK;
    for (size_t i = 0; i < records.size() && code == SQLITE_OK; ++i)
        kept[i] = PutOne(account, *records[i], code);
    if (code == SQLITE_OK && !Evict())
        code = sqlite3_errcode(m_pDb);
    if (code == SQLITE_OK)
        code = sqlite3_exec(m_pDb, "COMMIT", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        sqlite3_exec(m_pDb, "ROLLBACK", nullptr, nullptr, nullptr);
        m_nBytes = before;
        Failed(code);
        return std::vector<bool>(records.size(), false);
    }
    return kept;
}

bool CMessageStore::PutOne(const std::string& account, const CMailRecord& record, int& code)
{
    if (record.m_strUidl.empty())
        return false;
    const std::string_view text = record.SizedText();
    const size_t size = text.size();
    // The download took the checksum of the text as it came; a text the
    // marking grew since has another length and is read again.
    const int64_t checksum =
        record.m_nChecksumLength == static_cast<int64_t>(size) ? record.m_nTextChecksum : TextChecksum(text);
    int64_t old = -1;
    bool same = record.m_bTextStored;
    {
        CStatement kept(*this, "SELECT length(text), checksum FROM messages WHERE account=?1 AND uidl=?2");
        kept.Bind(1, account).Bind(2, record.m_strUidl);
        if (kept.Step()) {
            old = kept.Int(0);
            same = same || (old == static_cast<int64_t>(size) && kept.Int(1) == checksum);
        }
    }
    if (same) {
        // The text is kept already (a download, now analysed and left
        // unchanged): only what the analysis wrote is written.
        CStatement update(*this, "UPDATE messages SET analysed=?3, spam=?4, trusted=?5, spam_type=?6,"
                                 " filter_label=?7, rule_text=?8, return_path=?9, sender=?10, recipients=?11,"
                                 " cc=?12, subject=?13, used=?14, insertions=?15, gone=0 WHERE account=?1 AND uidl=?2");
        update.Bind(1, account).Bind(2, record.m_strUidl).Bind(3, int64_t(record.m_bAnalysed));
        update.Bind(4, int64_t(record.m_bSpam)).Bind(5, int64_t(record.m_bTrusted)).Bind(6, record.m_strSpamType);
        update.Bind(7, record.m_strFilterLabel).Bind(8, record.m_strRuleText).Bind(9, record.m_strReturnPath);
        update.Bind(10, record.m_strFrom).Bind(11, record.m_strTo).Bind(12, record.m_strCc);
        update.Bind(13, record.m_strSubject).Bind(14, ++m_nStamp).Bind(15, EncodeInsertions(record.m_insertions));
        update.Step();
        if (!update.Ok())
            code = update.Code();
        return update.Ok() && sqlite3_changes(m_pDb) == 1;
    }
    // A text larger than the whole bound is not kept.
    if (static_cast<int64_t>(size) > m_nMaxBytes)
        return false;
    CStatement put(*this, "INSERT OR REPLACE INTO messages(account, uidl, listed_size, size, received, analysed,"
                          " spam, trusted, spam_type, filter_label, rule_text, return_path, sender, recipients,"
                          " cc, subject, text, checksum, used, insertions, kept, corrected, gone)"
                          " VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19,?20,"
                          " coalesce((SELECT kept FROM messages WHERE account=?1 AND uidl=?2 AND gone=0), ?21),"
                          " (SELECT corrected FROM messages WHERE account=?1 AND uidl=?2 AND gone=0), 0)");
    put.Bind(1, account).Bind(2, record.m_strUidl).Bind(3, int64_t(record.m_nListedSize));
    put.Bind(4, int64_t(size)).Bind(5, int64_t(record.m_nReceived)).Bind(6, int64_t(record.m_bAnalysed));
    put.Bind(7, int64_t(record.m_bSpam)).Bind(8, int64_t(record.m_bTrusted)).Bind(9, record.m_strSpamType);
    put.Bind(10, record.m_strFilterLabel).Bind(11, record.m_strRuleText).Bind(12, record.m_strReturnPath);
    put.Bind(13, record.m_strFrom).Bind(14, record.m_strTo).Bind(15, record.m_strCc).Bind(16, record.m_strSubject);
    put.BindStatic(17, text).Bind(18, checksum).Bind(19, ++m_nStamp).Bind(20, EncodeInsertions(record.m_insertions));
    put.Bind(21, int64_t(std::time(nullptr)));
    put.Step();
    if (!put.Ok()) {
        code = put.Code();
        return false;
    }
    m_nBytes += static_cast<int64_t>(size) - std::max<int64_t>(old, 0);
    return true;
}

bool CMessageStore::Evict()
{
    while (m_nBytes > m_nMaxBytes) {
        CStatement oldest(m_pDb, "SELECT rowid, length(text) FROM messages ORDER BY used, rowid LIMIT 1");
        if (!oldest.Step())
            return oldest.Ok();
        CStatement drop(m_pDb, "DELETE FROM messages WHERE rowid=?1");
        drop.Bind(1, oldest.Int(0));
        drop.Step();
        if (!drop.Ok())
            return false;
        m_nBytes -= oldest.Int(1);
    }
    return true;
}

void CMessageStore::Remove(const std::string& account, const std::vector<std::string>& uidls)
{
    if (!m_pDb || uidls.empty() || !Exec("BEGIN IMMEDIATE"))
        return;
    for (const std::string& uidl : uidls) {
        CStatement drop(m_pDb, "DELETE FROM messages WHERE account=?1 AND uidl=?2 RETURNING length(text)");
        drop.Bind(1, account).Bind(2, uidl);
        while (drop.Step())
            m_nBytes -= drop.Int(0);
        if (!drop.Ok()) {
            sqlite3_exec(m_pDb, "ROLLBACK", nullptr, nullptr, nullptr);
            Failed(drop.Code());
            return;
        }
    }
    Exec("COMMIT");
}

void CMessageStore::Listed(const std::string& account, const std::vector<std::string>& uidls)
{
    if (!m_pDb)
        return;
    const std::set<std::string> listed(uidls.begin(), uidls.end());
    std::vector<std::string> gone;
    {
        CStatement kept(m_pDb, "SELECT uidl FROM messages WHERE account=?1 AND gone=0");
        kept.Bind(1, account);
        while (kept.Step())
            if (std::string uidl = kept.Bytes(0); !listed.count(uidl))
                gone.push_back(std::move(uidl));
        if (!kept.Ok()) {
            Failed(kept.Code());
            return;
        }
    }
    if (!gone.empty() && Exec("BEGIN IMMEDIATE")) {
        for (const std::string& uidl : gone) {
            CStatement mark(m_pDb, "UPDATE messages SET gone=1 WHERE account=?1 AND uidl=?2");
            mark.Bind(1, account).Bind(2, uidl);
            mark.Step();
            if (!mark.Ok()) {
                sqlite3_exec(m_pDb, "ROLLBACK", nullptr, nullptr, nullptr);
                Failed(mark.Code());
                return;
            }
        }
        if (!Exec("COMMIT"))
            return;
    }
    if (!m_pDb)
        return;
    CStatement use(m_pDb, "UPDATE messages SET used=?2 WHERE account=?1 AND gone=0");
    use.Bind(1, account).Bind(2, ++m_nStamp);
    use.Step();
    if (!use.Ok())
        Failed(use.Code());
}

void CMessageStore::Idle()
{
    if (m_pDb)
        sqlite3_wal_checkpoint_v2(m_pDb, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

bool CMessageStore::SpokeTls(const std::string& server)
{
    if (!m_pDb)
        return false;
    CStatement find(m_pDb, "SELECT 1 FROM tls_servers WHERE server=?1");
    find.Bind(1, server);
    const bool found = find.Step();
    if (!find.Ok())
        Failed(find.Code());
    return found;
}

void CMessageStore::NoteTls(const std::string& server)
{
    if (!m_pDb)
        return;
    CStatement note(m_pDb, "INSERT OR IGNORE INTO tls_servers(server) VALUES(?1)");
    note.Bind(1, server);
    note.Step();
    if (!note.Ok())
        Failed(note.Code());
}

namespace {

// The day a record was kept, as the history shows and searches it.
std::string Day(int64_t seconds)
{
    if (seconds <= 0)
        return {};
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&when, &local);
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%d/%m/%Y", &local);
    return buffer;
}

} // namespace

std::vector<SKeptMessage> CMessageStore::Browse(const SKeptQuery& query)
{
    std::vector<SKeptMessage> found;
    if (!m_pDb || query.limit <= 0)
        return found;
    const std::string needle = w1252::Upper(query.text);
    // Without the texts: a few hundred bytes a record, filtered here so that
    // the search treats Windows-1252 letters as the rest of the program does.
    CStatement list(m_pDb, "SELECT account, uidl, sender, subject, spam_type, rule_text, spam, kept,"
                           " corrected, gone FROM messages ORDER BY kept DESC, rowid DESC");
    while (list.Step()) {
        SKeptMessage message;
        message.spam = list.Int(6) != 0;
        message.corrected = sqlite3_column_type(list.Handle(), 8) == SQLITE_NULL ? -1 : list.Int(8) != 0;
        const bool spam = message.corrected >= 0 ? message.corrected == 1 : message.spam;
        if (query.verdict >= 0 && spam != (query.verdict == 1))
            continue;
        message.from = list.Bytes(2);
        message.subject = list.Bytes(3);
        message.kept = list.Int(7);
        if (!needle.empty() && w1252::Upper(message.from).find(needle) == std::string::npos &&
            w1252::Upper(message.subject).find(needle) == std::string::npos &&
            Day(message.kept).find(needle) == std::string::npos)
            continue;
        message.account = list.Bytes(0);
        message.uidl = list.Bytes(1);
        message.spamType = list.Bytes(4);
        message.ruleText = list.Bytes(5);
        message.gone = list.Int(9) != 0;
        found.push_back(std::move(message));
        if (static_cast<int32_t>(found.size()) >= query.limit)
            break;
    }
    if (!list.Ok())
        Failed(list.Code());
    return found;
}

bool CMessageStore::FindKept(const std::string& account, const std::string& uidl, CMailRecord& out)
{
    if (!m_pDb)
        return false;
    CStatement find(m_pDb, "SELECT listed_size FROM messages WHERE account=?1 AND uidl=?2");
    find.Bind(1, account).Bind(2, uidl);
    if (!find.Step()) {
        if (!find.Ok())
            Failed(find.Code());
        return false;
    }
    const int32_t listedSize = static_cast<int32_t>(find.Int(0));
    if (!FindRecord(account, uidl, listedSize, out, true, true))
        return false;
    out.m_strAccount = account;
    out.m_nListedSize = listedSize;
    return true;
}

bool CMessageStore::SetCorrection(const std::string& account, const std::string& uidl, bool spam)
{
    if (!m_pDb)
        return false;
    CStatement set(m_pDb, "UPDATE messages SET corrected=?3 WHERE account=?1 AND uidl=?2");
    set.Bind(1, account).Bind(2, uidl).Bind(3, int64_t(spam));
    set.Step();
    if (!set.Ok()) {
        Failed(set.Code());
        return false;
    }
    return sqlite3_changes(m_pDb) == 1;
}
