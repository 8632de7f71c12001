#include "base/Format.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "ui/AnalyseDialog.h"
#include "ui/LogView.h"
#include "ui/MailListItemModel.h"
#include "ui/MainWindow.h"
#include "ui/RulesDialog.h"
#include "UiFixture.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QProgressBar>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <gtest/gtest.h>

namespace {

class MainWindowTest : public HubTest
{
protected:
    MainWindowTest()
    {
        folder.Write("blacklist.txt", kSampleRules);
    }
    // The log's entries without their stamps.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> lines;
        const std::string text = Log();
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find("\r\n", start);
            end = end == std::string::npos ? text.size() : end;
            lines.push_back(text.substr(start + 11, end - start - 11));
            start = end + 2;
        }
        return lines;
    }
    QPushButton* Button(const char* name) { return window->findChild<QPushButton*>(name); }
    void Select(std::initializer_list<int> rows)
    {
        QItemSelectionModel* selection = window->MailList()->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(window->MailModel()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    CWorkFolder folder;
    std::unique_ptr<CMainWindow> window = std::make_unique<CMainWindow>(hub, true);
};

TEST_F(MainWindowTest, ColumnsTakeTheirHeadingsAndWidthsFromTheListWidth)
{
    const int w = window->ColumnBase();
    ASSERT_GT(w, 400);
    window->show();
    EXPECT_EQ(w, window->MailList()->viewport()->width());
    window->hide();
    const struct {
        const char* heading;
        int width;
    } columns[] = {{"From", w / 3}, {"Subject", 2 * w / 3 - 200}, {"Spam", 200},
                   {"UIDL", 120}, {"Client UID", 120}, {"To", 120}};
    ASSERT_EQ(window->MailModel()->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(window->MailModel()->headerData(c, Qt::Horizontal).toString().toStdString(), columns[c].heading);
        EXPECT_EQ(window->MailList()->columnWidth(c), columns[c].width) << c;
    }
    EXPECT_EQ(window->windowTitle().toStdString(), txt::kCaptionAtStart);
}

TEST_F(MainWindowTest, ARowPerAnalysedMessageWithItsSpamCellAndTheListBound)
{
    QAbstractItemModelTester tester(window->MailModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    AnalyseSample(hub, SampleMessages());
    CMailListItemModel& model = *window->MailModel();
    ASSERT_EQ(model.rowCount(), 10);
    int spam = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(w1252::FromQString(model.index(row, c).data().toString()), hub.MailList().Cell(row, c));
        spam += !model.index(row, CMailListModel::kSpam).data().toString().isEmpty();
    }
    EXPECT_EQ(spam, 4);
    EXPECT_EQ(model.index(0, CMailListModel::kUidl).data().toString(), "uidl-1");
    EXPECT_EQ(model.index(0, CMailListModel::kClientUid).data().toString(), "1");
    // A list bounded to two rows: each insertion is followed by deleting row 0.
    hub.Settings().m_nMaxMemoMsg = 2;
    AnalyseSample(hub, {SampleMessages()[0], SampleMessages()[6], SampleMessages()[7]}, 2);
    EXPECT_EQ(model.rowCount(), 2);
    // Clearing resets the view's model too.
    window->OnClearList();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(MainWindowTest, TheLogViewFollowsTheLogAndItsCap)
{
    // No cap, then caps that cut inside entries and inside their CR LF.
    for (int32_t cap : {0, 50, 64, 301}) {
        SCOPED_TRACE(cap);
        hub.Settings().m_nMaxLogSize = cap;
        hub.LogWriter().Log().Clear();
        for (int i = 0; i < 40; ++i) {
            hub.AddLog("entry " + std::string(static_cast<size_t>(i % 7), 'x') + " \xE9t\xE9\r\n", true);
            std::string expected(hub.Log().Text());
            std::erase(expected, '\r');
            ASSERT_EQ(w1252::FromQString(window->LogView()->toPlainText()), expected) << i;
        }
    }
    hub.LogWriter().Log().Clear();
    EXPECT_TRUE(window->LogView()->toPlainText().isEmpty());
}

TEST_F(MainWindowTest, ButtonsCallTheirHandlersAndLog)
{
    AnalyseSample(hub, SampleMessages());

    window->StopFilter()->click();
    EXPECT_TRUE(hub.AnalysisOff());
    window->StopFilter()->click();
    EXPECT_FALSE(hub.AnalysisOff());
    const std::vector<std::string> entries = Entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2] + "\r\n", txt::kAnalysisOff);
    EXPECT_EQ(entries.back() + "\r\n", txt::kAnalysisOn);

    Button("rules")->click();
    EXPECT_TRUE(window->RulesDialog()->isVisible());
    EXPECT_EQ(Entries().back() + "\r\n", txt::kEditRules);
    EXPECT_EQ(window->RulesDialog()->List()->count(), 1); // the From list, loaded

    // Three sessions, numbered 1, 2 and 3 as they are closed.
    for (const char* address : {"127.0.0.3", "127.0.0.1", "127.0.0.2"}) {
        CSession* session = hub.Proxy().m_sessions.append(std::make_unique<CSession>(hub.Proxy()));
        session->m_strClientAddress = address;
        hub.Connections().Add(address);
        hub.SetTrayIcon(true, false);
    }
    ASSERT_EQ(window->Connections()->count(), 3);
    EXPECT_EQ(window->Connections()->item(0)->text(), "127.0.0.1");
    const size_t before = Entries().size();
    Button("disconnect")->click();
    const std::vector<std::string> after = Entries();
    ASSERT_EQ(after.size(), before + 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(after[before + static_cast<size_t>(i)] + "\r\n", StrFormat(txt::kDisconnected, i + 1));
    EXPECT_TRUE(hub.Proxy().m_sessions.empty());
    EXPECT_EQ(window->Connections()->count(), 0);
    EXPECT_FALSE(hub.Tray().m_bBusy);

    // The progress bars and the status line follow their model.
    hub.Progress().Set(40, 75);
    hub.Progress().SetStatus("Message n\xB0" "2");
    EXPECT_EQ(window->MailboxBar()->value(), 40);
    EXPECT_EQ(window->MessageBar()->value(), 75);
    EXPECT_EQ(window->Status()->text(), QString::fromUtf8("Message n°2"));

    Button("clear")->click();
    EXPECT_EQ(Entries(), std::vector<std::string>{"Efface la listes des \xE9mails analys\xE9s"});
    EXPECT_EQ(hub.MailList().RowCount(), 0);
    EXPECT_TRUE(hub.Proxy().m_processedMails.empty());
}

TEST_F(MainWindowTest, RightClickOpensTheAnalysisOfEachSelectedRowsRecord)
{
    AnalyseSample(hub, SampleMessages());
    CAnalyseDialog& dialog = *window->AnalyseDialog();

    window->OnMailListRightClick(); // no row selected
    EXPECT_FALSE(dialog.isVisible());

    Select({2, 7});
    ASSERT_EQ(hub.MailList().m_selection, (std::set<int32_t>{2, 7}));
    emit window->MailList()->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_NE(dialog.m_pRecord, nullptr);
    EXPECT_EQ(dialog.m_pRecord->m_strUidl, "uidl-8"); // the last selected row's record

    // A record without a UIDL is opened by every row; the last match stays.
    auto noUidl = std::make_unique<CMailRecord>();
    noUidl->m_pszText = "Subject: none\r\n\r\nbody\r\n";
    CMailRecord* orphan = hub.Proxy().m_processedMails.append(std::move(noUidl));
    Select({2});
    window->OnMailListRightClick();
    EXPECT_EQ(dialog.m_pRecord, orphan);
}

} // namespace
