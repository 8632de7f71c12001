#include "base/OwnedList.h"
#include "proxy/Session.h"
#include "support/HubFixture.h"

namespace {

struct Item {
    explicit Item(int v, int* released = nullptr) : value(v), released(released) {}
    ~Item()
    {
        if (released)
            ++*released;
    }
    int value;
    int* released;
};

std::unique_ptr<CMailRecord> Record(const std::string& text, const std::string& uidl = "",
                                    bool downloaded = true)
{
    auto r = std::make_unique<CMailRecord>();
    r->m_pszText = text;
    r->m_bDownloaded = downloaded;
    r->m_nSize = static_cast<int32_t>(text.size());
    r->m_strUidl = uidl;
    return r;
}

} // namespace

TEST(OwnedList, AppendFirstNextAndCursor)
{
    OwnedList<Item> list;
    EXPECT_EQ(list.first(), nullptr);
    Item* a = list.append(std::make_unique<Item>(1));
    Item* b = list.append(std::make_unique<Item>(2));
    Item* c = list.append(std::make_unique<Item>(3));
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(list.lastAppended(), c);
    EXPECT_EQ(list.cursor(), c);
    EXPECT_EQ(list.first(), a);
    EXPECT_EQ(list.next(a), b);
    EXPECT_EQ(list.cursor(), b);
    EXPECT_EQ(list.next(b), c);
    // Past the last item: none, and the cursor is cleared.
    EXPECT_EQ(list.next(c), nullptr);
    EXPECT_EQ(list.cursor(), nullptr);
    // next() without an item starts again at the head.
    EXPECT_EQ(list.next(nullptr), a);
    // next() of an item the cursor does not hold finds it from the head.
    EXPECT_EQ(list.next(b), c);
}

TEST(OwnedList, RemoveHandsTheItemBack)
{
    int released = 0;
    OwnedList<Item> list;
    Item* a = list.append(std::make_unique<Item>(1, &released));
    Item* b = list.append(std::make_unique<Item>(2, &released));
    Item* c = list.append(std::make_unique<Item>(3, &released));

    Item stranger(9);
    EXPECT_EQ(list.remove(&stranger), nullptr);
    EXPECT_EQ(list.remove(nullptr), nullptr);
    EXPECT_EQ(list.count(), 3);

    // Removing the tail moves the tail back and clears the cursor and last-appended node.
    std::unique_ptr<Item> out = list.remove(c);
    ASSERT_EQ(out.get(), c);
    EXPECT_EQ(released, 0); // not released: the caller owns it now
    EXPECT_EQ(list.tail(), b);
    EXPECT_EQ(list.lastAppended(), nullptr);
    EXPECT_EQ(list.cursor(), nullptr);
    out.reset();
    EXPECT_EQ(released, 1);

    // Removing the head; then the last one empties the list.
    list.remove(a);
    EXPECT_EQ(list.head(), b);
    EXPECT_EQ(list.tail(), b);
    list.remove(b);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(list.tail(), nullptr);
    EXPECT_EQ(list.remove(b), nullptr); // empty list

    Item* d = list.append(std::make_unique<Item>(4, &released));
    EXPECT_EQ(list.head(), d);
}

TEST(OwnedList, ClearReleasesEveryItem)
{
    int released = 0;
    {
        OwnedList<Item> list;
        for (int i = 0; i < 5; ++i)
            list.append(std::make_unique<Item>(i, &released));
        list.clear();
        EXPECT_EQ(released, 5);
        EXPECT_EQ(list.count(), 0);
        EXPECT_EQ(list.cursor(), nullptr);
        list.append(std::make_unique<Item>(7, &released));
    }
    EXPECT_EQ(released, 6); // the list's destruction releases the rest
}

TEST(OwnedList, NthItemAndIndex)
{
    OwnedList<Item> list;
    Item* a = list.append(std::make_unique<Item>(1));
    Item* b = list.append(std::make_unique<Item>(2));
    EXPECT_EQ(list.at(0), nullptr);
    EXPECT_EQ(list.at(3), nullptr);
    EXPECT_EQ(list.at(-1), nullptr);
    EXPECT_EQ(list.at(2), b);
    EXPECT_EQ(list.cursor(), b);
    EXPECT_EQ(list.indexOf(a), 1);
    EXPECT_EQ(list.indexOf(b), 2);
    Item stranger(0);
    EXPECT_EQ(list.indexOf(&stranger), 0);
}

// `at` walks on from the item it found last; removals and clears move the
// positions under it, so every lookup must still land on the right item.
TEST(OwnedList, NthItemAfterRemovalsAndClears)
{
    OwnedList<Item> list;
    std::vector<Item*> items;
    for (int i = 1; i <= 6; ++i)
        items.push_back(list.append(std::make_unique<Item>(i)));
    EXPECT_EQ(list.at(4), items[3]);
    EXPECT_EQ(list.at(2), items[1]); // backwards from the remembered one
    EXPECT_EQ(list.at(5), items[4]);
    list.remove(items[1]); // 1 3 4 5 6
    EXPECT_EQ(list.at(4), items[4]);
    EXPECT_EQ(list.at(5), items[5]);
    list.remove(items[5]); // the remembered item itself: 1 3 4 5
    EXPECT_EQ(list.at(4), items[4]);
    EXPECT_EQ(list.at(5), nullptr);
    list.append(std::make_unique<Item>(7)); // 1 3 4 5 7
    EXPECT_EQ(list.at(5)->value, 7);
    list.clear();
    EXPECT_EQ(list.at(1), nullptr);
    Item* fresh = list.append(std::make_unique<Item>(8));
    EXPECT_EQ(list.at(1), fresh);
}

TEST(MailRecord, AssignFromCopiesWhatTheProcessedListNeeds)
{
    CMailRecord source;
    source.m_nSize = 5;
    source.m_nReceived = 7;
    source.m_pszText = "HelloWorld";
    source.m_strReturnPath = "rp";
    source.m_strFrom = "from";
    source.m_strTo = "to";
    source.m_strCc = "cc";
    source.m_strSubject = "subject";
    source.m_strSpamType = "type";
    source.m_strFilterLabel = "label";
    source.m_strRuleText = "rule";
    source.m_strUidl = "uidl";
    source.m_strRelays = "relays";
    source.m_bSpam = source.m_bAnalysed = source.m_bTrusted = true;
    source.m_nListedSize = 99;
    source.m_nToCount = 4;
    source.m_nCcCount = 5;
    source.m_nClientNumber = 6;

    CMailRecord target;
    target.m_nListedSize = 1;
    target.m_nToCount = 2;
    target.m_nCcCount = 3;
    target.m_nClientNumber = 8;
    target.m_strRelays = "mine";
    target.assignFrom(source);

    EXPECT_EQ(target.m_nSize, 5);
    EXPECT_EQ(target.m_nReceived, 7);
    EXPECT_EQ(target.m_pszText, "Hello"); // the first m_nSize bytes
    EXPECT_EQ(target.m_strReturnPath, "rp");
    EXPECT_EQ(target.m_strFrom, "from");
    EXPECT_EQ(target.m_strTo, "to");
    EXPECT_EQ(target.m_strCc, "cc");
    EXPECT_EQ(target.m_strSubject, "subject");
    EXPECT_EQ(target.m_strSpamType, "type");
    EXPECT_EQ(target.m_strFilterLabel, "label");
    EXPECT_EQ(target.m_strRuleText, "rule");
    EXPECT_EQ(target.m_strUidl, "uidl");
    EXPECT_TRUE(target.m_bSpam && target.m_bAnalysed && target.m_bTrusted);
    // Not copied.
    EXPECT_EQ(target.m_nListedSize, 1);
    EXPECT_EQ(target.m_nToCount, 2);
    EXPECT_EQ(target.m_nCcCount, 3);
    EXPECT_EQ(target.m_nClientNumber, 8);
    EXPECT_EQ(target.m_strRelays, "mine");
}

TEST(MailRecord, AssignFromNeverReadsPastTheText)
{
    CMailRecord source;
    source.m_nSize = 1000; // larger than what arrived
    source.m_pszText = "short";
    CMailRecord target;
    target.assignFrom(source);
    EXPECT_EQ(target.m_pszText, "short");
    source.m_nSize = -4;
    target.assignFrom(source);
    EXPECT_EQ(target.m_pszText, "");
}

TEST(MailRecord, DownloadedOnlyOnceTheRetrievalEnded)
{
    CMailRecord r;
    r.m_pszText = "x";
    EXPECT_FALSE(r.IsDownloaded());
    r.m_pszText = std::string(20, '\0'); // what arrived, even a zero byte first
    r.m_bDownloaded = true;
    EXPECT_TRUE(r.IsDownloaded());
    CMailRecord copy;
    copy.assignFrom(r);
    EXPECT_TRUE(copy.IsDownloaded());
}

TEST_F(HubTest, SessionLookups)
{
    CSession* s1 = hub.Proxy().m_sessions.append(std::make_unique<CSession>(hub.Proxy()));
    CSession* s2 = hub.Proxy().m_sessions.append(std::make_unique<CSession>(hub.Proxy()));
    s1->m_nNumber = 1;
    s2->m_nNumber = 2;
    EXPECT_EQ(hub.Proxy().SessionIndex(s2), 2);
    EXPECT_EQ(hub.Proxy().SessionByNumber(2), s2);
    EXPECT_EQ(hub.Proxy().SessionByNumber(3), nullptr);
    // The index is the position in the list, not the number.
    std::unique_ptr<CSession> gone = hub.Proxy().m_sessions.remove(s1);
    EXPECT_EQ(hub.Proxy().SessionIndex(s2), 1);
    EXPECT_EQ(hub.Proxy().SessionIndex(nullptr), 0);
    EXPECT_EQ(hub.Proxy().SessionIndex(gone.get()), 0);
}

TEST_F(HubTest, RecordLookupsAndNextDownload)
{
    CSession* s = hub.Proxy().m_sessions.append(std::make_unique<CSession>(hub.Proxy()));
    CMailRecord* r1 = s->m_messages.append(Record("a"));
    s->m_messages.append(Record("b"));
    s->m_messages.append(Record(std::string(30, '\0'), "", false));
    CMailRecord* r4 = s->m_messages.append(Record("d"));
    int32_t number = 0;
    for (CMailRecord* r : s->m_messages)
        r->m_nNumber = ++number;
    EXPECT_EQ(hub.RecordAt(s, 0), nullptr);
    EXPECT_EQ(hub.RecordAt(s, 5), nullptr);
    EXPECT_EQ(hub.RecordAt(s, 1), r1);
    // The server's numbers, not places in the list: after a deletion they have gaps.
    r4->m_nNumber = 7;
    EXPECT_EQ(hub.RecordAt(s, 4), nullptr);
    EXPECT_EQ(hub.RecordAt(s, 7), r4);
    EXPECT_EQ(hub.NextMessageToDownload(s), 3);
    s->m_messages.at(3)->m_bDownloaded = true;
    EXPECT_EQ(hub.NextMessageToDownload(s), 5);
}

TEST_F(HubTest, ProcessedMailByUidlFindsTheOldestMatch)
{
    CMailRecord* older = hub.Proxy().m_processedMails.append(Record("1", ""));
    hub.Proxy().m_processedMails.append(Record("2", ""));
    CMailRecord* named = hub.Proxy().m_processedMails.append(Record("3", "abc"));
    EXPECT_EQ(hub.ProcessedMailByUidl(""), older);
    EXPECT_EQ(hub.ProcessedMailByUidl("abc"), named);
    EXPECT_EQ(hub.ProcessedMailByUidl("ABC"), nullptr);
}
