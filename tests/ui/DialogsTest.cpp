#include "base/Format.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "filter/RuleSet.h"
#include "ui/AnalyseDialog.h"
#include "ui/HistoryDialog.h"
#include "ui/MainWindow.h"
#include "ui/RulesDialog.h"
#include "UiFixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QTreeWidget>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class DialogsTest : public HubTest
{
protected:
    DialogsTest() { folder.Write("blacklist.txt", kSampleRules); }

    QPushButton* Button(QWidget* in, const char* name) { return in->findChild<QPushButton*>(name); }
    std::vector<std::string> Rows() const
    {
        std::vector<std::string> rows;
        for (int i = 0; i < rules().List()->count(); ++i)
            rows.push_back(w1252::FromQString(rules().List()->item(i)->text()));
        return rows;
    }
    std::vector<std::string> Entries(ERuleList which)
    {
        std::vector<std::string> entries;
        for (const std::string* e : hub.Rules().List(which))
            entries.push_back(*e);
        return entries;
    }
    void Type(const std::string& text) { rules().Entry()->setText(w1252::ToQString(text)); }
    void SelectRows(std::initializer_list<int> rows)
    {
        rules().List()->clearSelection();
        for (int row : rows)
            rules().List()->item(row)->setSelected(true);
    }
    CRulesDialog& rules() const { return *window->RulesDialog(); }

    CWorkFolder folder;
    std::unique_ptr<CMainWindow> window = std::make_unique<CMainWindow>(hub, true);
};

// A message with something for every text operation.
const char kSample[] =
    "Return-Path: <x@example.org>\r\nSubject: Test\r\nStatus: RO\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "SGVsbG8gYmFzZTY0IHdvcmxk\r\n\r\n"
    "Content-Transfer-Encoding: 8bit\r\nd&#233;j&#224;\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\nr=E9union\tet\t\tfin\r\n\r\n\r\n"
    "<p>caf&eacute;</p>\r\n";

TEST_F(DialogsTest, EveryTextOperationWorksOnThePaneNotTheRecord)
{
    AnalyseSample(hub, {kSample});
    CAnalyseDialog& dialog = *window->AnalyseDialog();
    CMailRecord* record = hub.Proxy().m_processedMails.head();
    dialog.ShowRecord(record);
    EXPECT_EQ(dialog.MessageText(), kSample);
    const std::string log = Log();

    const struct {
        const char* button;
        const char* present;
        const char* absent;
    } steps[] = {
        {"base64", "Hello base64 world", "SGVsbG8g"},
        {"base64", "Hello base64 world", ": base64"}, // a second press finds no marker
        {"8bit", "d\xE9j\xE0", "&#233;"},
        {"qp", "r\xE9union", "=E9"},
        {"entities", "caf\xE9", "&eacute;"},
        {"nohtml", "caf\xE9", "<p>"},
        {"squeeze", "union et fin", "\r"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.button);
        const std::string before = dialog.MessageText();
        Button(&dialog, step.button)->click();
        const std::string& after = dialog.MessageText();
        EXPECT_NE(after.find(step.present), std::string::npos) << after;
        EXPECT_EQ(after.find(step.absent), std::string::npos) << after;
        EXPECT_EQ(w1252::FromQString(dialog.MessagePane()->toPlainText()), [&] {
            std::string shown = after;
            std::erase(shown, '\r');
            return shown;
        }());
    }
    EXPECT_EQ(dialog.MessageText().find("\n\n"), std::string::npos);
    EXPECT_EQ(Log(), log); // nothing logged
    EXPECT_EQ(record->m_pszText, kSample);
    dialog.Refill();
    EXPECT_EQ(dialog.MessageText(), kSample);
}

TEST_F(DialogsTest, TheSummaryHasFiveLinesAndTheVerdictOfASpam)
{
    const std::vector<std::string> messages = SampleMessages();
    AnalyseSample(hub, {messages[0], messages[6]}); // ham-01, spam-01
    CAnalyseDialog& dialog = *window->AnalyseDialog();
    CMailRecord* ham = hub.Proxy().m_processedMails.at(1);
    CMailRecord* spam = hub.Proxy().m_processedMails.at(2);
    dialog.ShowRecord(ham);
    EXPECT_EQ(dialog.SummaryText(),
              StrFormat(txt::kSummaryFormat, ham->m_strReturnPath.c_str(), ham->m_strTo.c_str(),
                        ham->m_strFrom.c_str(), ham->m_strCc.c_str(), ham->m_strSubject.c_str()));
    EXPECT_EQ(std::count(dialog.SummaryText().begin(), dialog.SummaryText().end(), '\n'), 4);
    dialog.ShowRecord(spam);
    EXPECT_NE(dialog.SummaryText().find("\r\nFrom Spam detected by "), std::string::npos) << dialog.SummaryText();
    EXPECT_NE(dialog.SummaryText().find("OFFERS@BULK-MAILER.EXAMPLE"), std::string::npos);

    // "Règles" opens the editor loaded from the file, on its current tab;
    // when it is open already, only brings it forward.
    Button(&dialog, "rules")->click();
    EXPECT_TRUE(rules().isVisible());
    EXPECT_EQ(Rows(), std::vector<std::string>{"OFFERS@BULK-MAILER.EXAMPLE"});
    hub.Rules().List(kRuleFrom).append(std::make_unique<std::string>("NOT SHOWN"));
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Button(&dialog, "rules")->click();
    EXPECT_EQ(Rows().size(), 1u);
    // ... and gives it the keyboard, in its entry box.
    EXPECT_TRUE(QTest::qWaitForWindowActive(&rules()));
    for (int turn = 0; turn < 200 && !rules().Entry()->hasFocus(); ++turn)
        QTest::qWait(5); // the focus follows the activation
    EXPECT_TRUE(rules().Entry()->hasFocus());
}

TEST_F(DialogsTest, TheMessagePaneKeepsItsPlaceThroughTheOperations)
{
    std::string text = "Subject: long\r\nStatus: RO\r\n\r\n";
    for (int line = 0; line < 400; ++line)
        text += "line " + std::to_string(line) + "\r\n";
    AnalyseSample(hub, {text});
    CAnalyseDialog& dialog = *window->AnalyseDialog();
    CMailRecord* record = hub.Proxy().m_processedMails.head();
    dialog.ShowRecord(record);
    QScrollBar* bar = dialog.MessagePane()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 100);
    for (const char* button : {"base64", "8bit", "qp", "entities", "nohtml", "squeeze"}) {
        const int place = bar->maximum() / 2;
        bar->setValue(place);
        Button(&dialog, button)->click();
        EXPECT_EQ(bar->value(), place) << button;
    }
    dialog.ShowRecord(record); // a message shown afresh starts at its top
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(DialogsTest, AddingIgnoresAnEntryAlreadyThereInAnyCase)
{
    window->OnRules();
    const struct {
        std::string typed;
        size_t entries;
        std::string boxAfter;
    } steps[] = {
        {"spam@x.example", 2, ""},
        {"spam@x.example", 2, "spam@x.example"},
        {"SPAM@X.EXAMPLE", 2, "SPAM@X.EXAMPLE"},
        {"", 3, ""}, // an empty entry, once
        {"", 3, ""},
    };
    for (const auto& step : steps) {
        Type(step.typed);
        Button(&rules(), "add")->click();
        EXPECT_EQ(Entries(kRuleFrom).size(), step.entries) << step.typed;
        EXPECT_EQ(w1252::FromQString(rules().Entry()->text()), step.boxAfter);
    }
    EXPECT_EQ(Entries(kRuleFrom), (std::vector<std::string>{"OFFERS@BULK-MAILER.EXAMPLE", "spam@x.example", ""}));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"", "OFFERS@BULK-MAILER.EXAMPLE", "spam@x.example"}));

    // Enter in the box adds as the button does; the editor stays open and
    // the file is not written.
    Type("typed@x.example");
    rules().Entry()->setFocus();
    QTest::keyClick(rules().Entry(), Qt::Key_Return);
    EXPECT_TRUE(rules().isVisible());
    EXPECT_EQ(Entries(kRuleFrom).back(), "typed@x.example");
    EXPECT_TRUE(rules().Entry()->text().isEmpty());
    EXPECT_EQ(folder.Read("blacklist.txt"), kSampleRules);
}

TEST_F(DialogsTest, RemovingTakesExactlyTheSelectedRowsAndAClickFillsTheBox)
{
    folder.Write("blacklist.txt", "SUBJECT:\r\nEEE\r\nBBB\r\nDDD\r\nAAA\r\nCCC\r\n");
    window->OnRules();
    rules().Tabs()->setCurrentIndex(4); // Subject
    EXPECT_EQ(Rows(), (std::vector<std::string>{"AAA", "BBB", "CCC", "DDD", "EEE"})); // sorted on screen
    SelectRows({3});
    rules().OnListClick();
    EXPECT_EQ(rules().Entry()->text(), "DDD");
    SelectRows({0, 1, 3});
    Button(&rules(), "remove")->click();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"CCC", "EEE"}));
    EXPECT_EQ(Entries(kRuleSubject), (std::vector<std::string>{"EEE", "CCC"}));
    EXPECT_TRUE(rules().Entry()->text().isEmpty());
    Button(&rules(), "remove")->click(); // nothing selected: nothing removed
    EXPECT_EQ(Entries(kRuleSubject).size(), 2u);
}

TEST_F(DialogsTest, OkWritesAFileThatReadsBackCancelKeepsTheFile)
{
    folder.Write("blacklist.txt", std::string(kSampleRules) + "NBRTO:\r\n5\r\n");
    const std::filesystem::path file = folder.Path() + "/blacklist.txt";
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
    window->OnRules();
    rules().Tabs()->setCurrentIndex(2); // TO
    Type("bob@example.net");
    Button(&rules(), "add")->click();
    Button(&rules(), "ok")->click();
    EXPECT_FALSE(rules().isVisible());
    const std::string written = folder.Read("blacklist.txt");
    EXPECT_NE(written.find("TO:\r\nbob@example.net\r\nNBRTO:\r\n5\r\nCC:\r\n"), std::string::npos) << written;
    SRuleLists reread;
    ParseRuleFile(written, reread);
    EXPECT_EQ(FormatRuleFile(reread), w1252::Upper(FormatRuleFile(hub.Rules().Lists())));
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        ++files;
    EXPECT_EQ(files, 1u); // no temporary file left beside it
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);

    // Cancel: the entry stays in memory only; the next opening reloads.
    window->OnRules();
    Type("carol@example.net");
    Button(&rules(), "add")->click();
    Button(&rules(), "cancel")->click();
    EXPECT_FALSE(rules().isVisible());
    EXPECT_EQ(folder.Read("blacklist.txt"), written);
    EXPECT_EQ(Entries(kRuleTo).back(), "carol@example.net");
    window->OnRules();
    EXPECT_EQ(Rows(), std::vector<std::string>{"BOB@EXAMPLE.NET"});
}

TEST_F(DialogsTest, AFileThatCannotBeWrittenKeepsTheDialogOpenAndSaysSo)
{
    window->OnRules();
    const std::string path = hub.Rules().FilePath();
    std::filesystem::remove_all(folder.Path()); // nowhere to write
    Type("kept@example.net");
    Button(&rules(), "add")->click();
    Button(&rules(), "ok")->click();
    EXPECT_TRUE(rules().isVisible());
    EXPECT_TRUE(rules().Failure()->isVisible());
    EXPECT_NE(w1252::FromQString(rules().Failure()->text()).find(path), std::string::npos);
    EXPECT_NE(Log().find(StrFormat(txt::kRuleFileUnwritable, path.c_str())), std::string::npos) << Log();
    EXPECT_EQ(Entries(kRuleFrom).back(), "kept@example.net");
    Button(&rules(), "cancel")->click();
    EXPECT_FALSE(rules().isVisible());
}

} // namespace

// "Pas un spam" on a message a rule caught: the rule is named and the sender
// offered to TRUST:, the row says so, the store keeps it, and the plug-in
// learns the text as the server sent it (without the tag); the history finds
// the message again once the list is cleared and the store reopened.
TEST_F(DialogsTest, ACorrectionTeachesTheTextAsReceivedAndTheHistoryFindsItAgain)
{
    ASSERT_TRUE(hub.MessageStore().Open(folder.Path() + "/Orvelane.db", 1 << 20));
    const std::vector<std::string> texts = SampleMessages();
    AnalyseSample(hub, texts);
    std::vector<const CMailRecord*> kept;
    size_t original = 0;
    int32_t row = -1;
    for (CMailRecord* record : hub.Proxy().m_processedMails) {
        record->m_strAccount = "pop:110 alice";
        kept.push_back(record);
        if (record->m_strSpamType == txt::kTypeSubject) {
            original = texts.at(kept.size() - 1).size();
            for (int32_t i = 0; i < hub.MailList().RowCount(); ++i)
                if (hub.MailList().Cell(i, CMailListModel::kUidl) == record->m_strUidl)
                    row = i;
        }
    }
    ASSERT_GE(row, 0);
    hub.MessageStore().Put("pop:110 alice", kept);
    hub.MailList().m_selection = {row};
    // A plug-in that learns, named after the check as a user would add one.
    hub.Settings().m_plugInNames = {"testengine"};
    hub.PlugIns().SetSearchFolders({std::string(ORVELANE_BINARY_DIR) + "/plugins"});

    std::vector<std::string> asked;
    window->m_ask = [&](const std::string& question) {
        asked.push_back(question);
        return true;
    };
    window->OnCorrect(false);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("MIRACLE*PILLS"), std::string::npos) << asked[0];
    EXPECT_NE(asked[0].find(" NOREPLY@PHARMA.EXAMPLE \xE0"), std::string::npos) << asked[0];
    EXPECT_TRUE(RuleListContains("NOREPLY@PHARMA.EXAMPLE", hub.Rules().List(kRuleTrust)));
    EXPECT_NE(folder.Read("blacklist.txt").find("NOREPLY@PHARMA.EXAMPLE"), std::string::npos);
    EXPECT_EQ(hub.MailList().Cell(row, CMailListModel::kSpam), txt::kCellCorrectedHam);
    // The plug-in's line comes from its worker thread through the event
    // queue, possibly after the learning counts as done.
    const std::string learned = StrFormat("Plugin testengine : apprentissage non spam : ham %zu bytes\r\n", original);
    for (int i = 0; i < 500 && (hub.LearningUnderWay() > 0 || Log().find(learned) == std::string::npos); ++i)
        QTest::qWait(5);
    EXPECT_NE(Log().find(learned), std::string::npos) << Log();

    // After "Efface Liste" and a new start of the store the message is in
    // the history, with the user's verdict, and opens with its text.
    window->OnClearList();
    hub.MessageStore().Close();
    ASSERT_TRUE(hub.MessageStore().Open(folder.Path() + "/Orvelane.db", 1 << 20));
    window->OnHistory();
    CHistoryDialog& history = *window->HistoryDialog();
    history.Search()->setText(QStringLiteral("miracle"));
    ASSERT_EQ(history.List()->topLevelItemCount(), 1);
    EXPECT_EQ(w1252::FromQString(history.List()->topLevelItem(0)->text(3)), txt::kCellCorrectedHam);
    history.List()->topLevelItem(0)->setSelected(true);
    history.OnOpen();
    ASSERT_NE(window->AnalyseDialog()->m_pRecord, nullptr);
    EXPECT_NE(window->AnalyseDialog()->MessageText().find("Miracle weight-loss"), std::string::npos);
    history.Verdict()->setCurrentIndex(1); // spams only
    EXPECT_EQ(history.List()->topLevelItemCount(), 0);
    history.Search()->clear();
    EXPECT_EQ(history.List()->topLevelItemCount(), 3) << "the other spams of the sample";
}
