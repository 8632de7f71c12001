// The store of analysed messages: what a later run reads back, the bound,
// and files or records that are not what was written.
#include "base/LogSink.h"
#include "base/TextChecksum.h"
#include "store/MessageStore.h"

#include <QTemporaryDir>
#include <fstream>
#include <sqlite3.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

CMailRecord Record(const std::string& uidl, const std::string& text, int32_t listed = -1)
{
    CMailRecord record;
    record.m_strUidl = uidl;
    record.m_pszText = text;
    record.m_nSize = record.m_nReceived = static_cast<int32_t>(text.size());
    record.m_nListedSize = listed < 0 ? record.m_nSize : listed;
    record.m_bAnalysed = true;
    record.m_bSpam = true;
    record.m_strSpamType = "Subject";
    record.m_strSubject = " _SPAM_ hi\xE9";
    return record;
}

class MessageStoreTest : public ::testing::Test
{
protected:
    std::string Path() const { return m_dir.path().toStdString() + "/Orvelane.db"; }
    std::string LogText() const
    {
        std::string all;
        for (const auto& entry : m_log.Entries())
            all += entry.first;
        return all;
    }
    QTemporaryDir m_dir;
    CCapturedLog m_log;
};

} // namespace

TEST_F(MessageStoreTest, WhatIsKeptIsReadBackByTheNextRunForItsAccountAndSizeOnly)
{
    const std::string text(3000, 'x');
    {
        CMessageStore store(m_log);
        ASSERT_TRUE(store.Open(Path(), 1 << 20));
        ASSERT_TRUE(store.Put("pop:110 alice", Record("u1", text)));
        ASSERT_TRUE(store.Put("pop:110 bob", Record("u1", "bob's")));
    }
    struct stat st{};
    ASSERT_EQ(::stat(Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    CMessageStore store(m_log);
    ASSERT_TRUE(store.Open(Path(), 1 << 20));
    CMailRecord found;
    ASSERT_TRUE(store.Find("pop:110 alice", "u1", 3000, found, false));
    EXPECT_TRUE(found.m_bTextStored);
    EXPECT_TRUE(found.m_pszText.empty());
    EXPECT_EQ(found.m_nSize, 3000);
    EXPECT_TRUE(found.m_bSpam && found.m_bAnalysed && found.IsDownloaded());
    EXPECT_EQ(found.m_strSubject, " _SPAM_ hi\xE9");
    std::string loaded;
    ASSERT_TRUE(store.LoadText("pop:110 alice", "u1", loaded));
    EXPECT_EQ(loaded, text);
    ASSERT_TRUE(store.Find("pop:110 bob", "u1", 5, found, true));
    EXPECT_EQ(found.m_pszText, "bob's");
    // A message listed with another size changed under its UIDL.
    EXPECT_FALSE(store.Find("pop:110 alice", "u1", 3001, found, false));
    EXPECT_FALSE(store.Find("pop:110 carol", "u1", 5, found, false));
    EXPECT_TRUE(m_log.Entries().empty()) << LogText();
}

TEST_F(MessageStoreTest, AChecksumTakenAtTheDownloadServesOnlyTheTextItCovers)
{
    const std::string came = "Subject: hi\r\n\r\n" + std::string(20000, 'b') + "\r\n.\r\n";
    CMessageStore store(m_log);
    ASSERT_TRUE(store.Open(Path(), 1 << 20));
    // As downloaded; then the same record after the marking grew its text.
    CMailRecord kept = Record("u1", came);
    kept.m_nTextChecksum = TextChecksum(came);
    kept.m_nChecksumLength = static_cast<int64_t>(came.size());
    CMailRecord grown = kept;
    grown.m_strUidl = "u2";
    grown.m_pszText.insert(9, "_SPAM_ ");
    grown.m_nSize = grown.m_nListedSize = static_cast<int32_t>(grown.m_pszText.size());
    ASSERT_EQ(store.Put("acct", {&kept, &grown}), std::vector<bool>({true, true}));
    for (const CMailRecord* record : {&kept, &grown}) {
        std::string loaded;
        EXPECT_TRUE(store.LoadText("acct", record->m_strUidl, loaded)) << record->m_strUidl;
        EXPECT_EQ(loaded, record->m_pszText);
    }
    EXPECT_TRUE(m_log.Entries().empty()) << LogText();

    // A new file takes pages that hold such a text whole.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* size = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA page_size", -1, &size, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(size), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(size, 0), 32768);
    sqlite3_finalize(size);
    sqlite3_close(db);
}

TEST_F(MessageStoreTest, TheBoundDropsTheLeastRecentlyListedAndAScanDropsWhatVanished)
{
    CMessageStore store(m_log);
    ASSERT_TRUE(store.Open(Path(), 3000));
    for (const char* uidl : {"a", "b", "c"})
        ASSERT_TRUE(store.Put("acct", Record(uidl, std::string(1000, 'x'))));
    // "b" is no longer listed; "c" is written again and becomes the most recent.
    store.Listed("acct", {"a", "c"});
    ASSERT_TRUE(store.Put("acct", Record("c", std::string(1000, 'y'))));
    ASSERT_TRUE(store.Put("acct", Record("d", std::string(1000, 'z'))));
    ASSERT_TRUE(store.Put("other", Record("e", std::string(1000, 'w'))));
    CMailRecord found;
    EXPECT_FALSE(store.Find("acct", "b", 1000, found, false)); // vanished from the listing
    EXPECT_FALSE(store.Find("acct", "a", 1000, found, false)); // the oldest when "e" came
    EXPECT_TRUE(store.Find("acct", "c", 1000, found, true));
    EXPECT_EQ(found.m_pszText, std::string(1000, 'y'));
    EXPECT_TRUE(store.Find("acct", "d", 1000, found, false));
    EXPECT_EQ(store.Bytes(), 3000);
    EXPECT_EQ(store.Count(), 3);
    // A text larger than the whole bound is not kept, and evicts nothing.
    EXPECT_FALSE(store.Put("acct", Record("f", std::string(3001, 'x'))));
    EXPECT_EQ(store.Count(), 3);
}

TEST_F(MessageStoreTest, ADamagedFileIsSetAsideAndADamagedTextIsNeverServed)
{
    {
        std::ofstream garbage(Path(), std::ios::binary);
        garbage << std::string(8192, '\x5A');
    }
    CMessageStore store(m_log);
    ASSERT_TRUE(store.Open(Path(), 1 << 20));
    EXPECT_NE(LogText().find("mise de c\xF4t\xE9 sous " + Path() + ".damaged-"), std::string::npos) << LogText();
    ASSERT_TRUE(store.Put("acct", Record("u1", "Subject: one\r\n\r\nbody\r\n")));
    store.Close();

    // One byte of the text changes on disk: the checksum no longer agrees.
    std::string bytes;
    {
        std::ifstream in(Path(), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    // WAL: the record may still be in the journal; a clean close folds it in.
    const size_t at = bytes.find("Subject: one");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 9] = 'X';
    {
        std::ofstream out(Path(), std::ios::binary);
        out << bytes;
    }
    m_log.Clear();
    ASSERT_TRUE(store.Open(Path(), 1 << 20));
    std::string text;
    CMailRecord found;
    EXPECT_FALSE(store.LoadText("acct", "u1", text));
    EXPECT_TRUE(text.empty());
    EXPECT_NE(LogText().find("endommag\xE9"), std::string::npos) << LogText();
    EXPECT_FALSE(store.Find("acct", "u1", 22, found, true)); // dropped
}

TEST_F(MessageStoreTest, ServersThatSpokeTlsAreRememberedAlsoInAFileOfTheEarlierLayout)
{
    {
        CMessageStore store(m_log);
        ASSERT_TRUE(store.Open(Path(), 1 << 20));
        ASSERT_TRUE(store.Put("acct", Record("u1", "kept")));
    }
    // The file as the program before the memory of TLS servers left it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE tls_servers", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    {
        CMessageStore store(m_log);
        ASSERT_TRUE(store.Open(Path(), 1 << 20));
        CMailRecord found;
        EXPECT_TRUE(store.Find("acct", "u1", 4, found, true));
        EXPECT_FALSE(store.SpokeTls("pop.example.org:110"));
        store.NoteTls("pop.example.org:110");
    }
    CMessageStore store(m_log);
    ASSERT_TRUE(store.Open(Path(), 1 << 20));
    EXPECT_TRUE(store.SpokeTls("pop.example.org:110"));
    EXPECT_FALSE(store.SpokeTls("pop.example.org:995"));
    EXPECT_TRUE(m_log.Entries().empty()) << LogText();
}

TEST_F(MessageStoreTest, InsertionsAreKeptAlsoInAFileOfTheEarlierLayout)
{
    // The file as the program before the column `insertions` made it.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "CREATE TABLE messages(account BLOB NOT NULL, uidl BLOB NOT NULL,"
                               " listed_size INTEGER NOT NULL, size INTEGER NOT NULL, received INTEGER NOT NULL,"
                               " analysed INTEGER NOT NULL, spam INTEGER NOT NULL, trusted INTEGER NOT NULL,"
                               " spam_type BLOB, filter_label BLOB, rule_text BLOB, return_path BLOB,"
                               " sender BLOB, recipients BLOB, cc BLOB, subject BLOB,"
                               " text BLOB NOT NULL, checksum INTEGER NOT NULL, used INTEGER NOT NULL);"
                               "CREATE UNIQUE INDEX by_uidl ON messages(account, uidl);"
                               "CREATE INDEX by_use ON messages(used); PRAGMA user_version=1;",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    CMailRecord marked = Record("u1", "X: 1\r\nSubject: _SPAM_ hi\r\n\r\n.\r\n");
    marked.m_insertions = {{0, 6}, {15, 7}};
    {
        CMessageStore store(m_log);
        ASSERT_TRUE(store.Open(Path(), 1 << 20));
        ASSERT_TRUE(store.Put("acct", marked));
        ASSERT_TRUE(store.Put("acct", Record("u2", "as received")));
    }
    // The earlier program writes a record as it knows it: nothing inserted.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    const char* copies =
        "INSERT INTO messages(account, uidl, listed_size, size, received, analysed, spam, trusted, text,"
        " checksum, used) SELECT account, CAST('u3' AS BLOB), listed_size, size, received, analysed, spam,"
        " trusted, text, checksum, used FROM messages WHERE uidl=CAST('u2' AS BLOB);"
        "INSERT INTO messages(account, uidl, listed_size, size, received, analysed, spam, trusted, text,"
        " checksum, used, insertions) SELECT account, CAST('u4' AS BLOB), listed_size, size, received,"
        " analysed, spam, trusted, text, checksum, used, '9+99' FROM messages WHERE uidl=CAST('u2' AS BLOB);";
    ASSERT_EQ(sqlite3_exec(db, copies, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    CMessageStore store(m_log);
    ASSERT_TRUE(store.Open(Path(), 1 << 20));
    for (const bool withText : {true, false}) {
        CMailRecord found;
        ASSERT_TRUE(store.Find("acct", "u1", marked.m_nSize, found, withText));
        EXPECT_EQ(found.m_insertions, marked.m_insertions);
        for (const char* uidl : {"u2", "u3"}) {
            CMailRecord plain;
            plain.m_insertions = {{0, 1}};
            ASSERT_TRUE(store.Find("acct", uidl, 11, plain, withText)) << uidl;
            EXPECT_TRUE(plain.m_insertions.empty()) << uidl;
        }
    }
    CMailRecord found;
    ASSERT_TRUE(store.Find("acct", "u1", marked.m_nSize, found, true));
    EXPECT_EQ(ReceivedText(found), "Subject: hi\r\n\r\n.\r\n");
    EXPECT_TRUE(m_log.Entries().empty()) << LogText();
    // Insertions that cannot be the text's: the record is not served.
    EXPECT_FALSE(store.Find("acct", "u4", 11, found, true));
    EXPECT_NE(LogText().find("endommag\xE9"), std::string::npos) << LogText();
}

TEST_F(MessageStoreTest, TheHistoryListsWhatVanishedNeverServesItAndKeepsTheUsersVerdict)
{
    {
        CMessageStore store(m_log);
        ASSERT_TRUE(store.Open(Path(), 1 << 20));
        ASSERT_TRUE(store.Put("acct", Record("u1", "prize")));
    }
    // The file as the program before the history left it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "ALTER TABLE messages DROP COLUMN kept; ALTER TABLE messages DROP COLUMN corrected;"
                           "ALTER TABLE messages DROP COLUMN gone;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    CMessageStore store(m_log);
    ASSERT_TRUE(store.Open(Path(), 1 << 20));
    CMailRecord ham = Record("u2", "lunch");
    ham.m_bSpam = false;
    ham.m_strSpamType.clear();
    ham.m_strSubject = "Lunch at noon";
    ASSERT_TRUE(store.Put("acct", ham));
    store.Listed("acct", {"u2"});
    CMailRecord found;
    EXPECT_FALSE(store.Find("acct", "u1", 5, found, false)); // gone from the server
    ASSERT_TRUE(store.FindKept("acct", "u1", found));        // but still in the history
    EXPECT_EQ(found.m_pszText, "prize");
    EXPECT_TRUE(store.SetCorrection("acct", "u1", false));
    EXPECT_FALSE(store.SetCorrection("acct", "nope", true));

    struct Case {
        const char* text;
        int32_t verdict;
        std::vector<std::string> uidls;
    } cases[] = {
        {"", -1, {"u2", "u1"}}, // the later first (u1 was kept before dates were)
        {"HI\xC9", -1, {"u1"}}, // its subject, without regard to case
        {"NOON", -1, {"u2"}},
        {"", 0, {"u2", "u1"}}, // u1 corrected to not spam
        {"", 1, {}},
        {"nothing", -1, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> uidls;
        for (const SKeptMessage& message : store.Browse({c.text, c.verdict, 10}))
            uidls.push_back(message.uidl);
        EXPECT_EQ(uidls, c.uidls) << c.text << " " << c.verdict;
    }
    const std::vector<SKeptMessage> all = store.Browse({});
    ASSERT_EQ(all.size(), 2u);
    EXPECT_TRUE(all[1].gone);
    EXPECT_EQ(all[1].corrected, 0);
    EXPECT_EQ(all[0].corrected, -1);
    EXPECT_GT(all[0].kept, 0);
    EXPECT_TRUE(m_log.Entries().empty()) << LogText();
}
