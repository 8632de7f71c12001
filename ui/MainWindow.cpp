#include "ui/MainWindow.h"

#include "base/Format.h"
#include "base/Texts.h"
#include "shell/MainDialog.h"
#include "ui/AnalyseDialog.h"
#include "ui/HistoryDialog.h"
#include "ui/LogView.h"
#include "ui/MailListItemModel.h"
#include "ui/RulesDialog.h"
#include "ui/SettingsDialog.h"
#include "ui/UiText.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QProgressBar* MakeBar(QWidget* parent, int width)
{
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedWidth(width);
    return bar;
}

} // namespace

CMainWindow::CMainWindow(CMainDialog& hub, bool withTray, QWidget* parent)
    : QDialog(parent), m_hub(hub), m_bWithTray(withTray)
{
    setWindowTitle(ui::Text(txt::kCaptionAtStart));
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (!withTray)
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    setModal(false);

    const QFontMetrics metrics(font());
    // Dialog units to pixels at this font.
    auto dx = [&](int units) { return metrics.averageCharWidth() * units / 4; };
    auto dy = [&](int units) { return metrics.height() * units / 8; };

    // The mail list.
    m_pMailList = new QTreeView(this);
    m_pMailModel = new CMailListItemModel(hub.MailList(), this);
    m_pMailList->setModel(m_pMailModel);
    m_pMailList->setRootIsDecorated(false);
    m_pMailList->setItemsExpandable(false);
    m_pMailList->setUniformRowHeights(true);
    m_pMailList->setAllColumnsShowFocus(true);
    m_pMailList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pMailList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pMailList->setContextMenuPolicy(Qt::CustomContextMenu);
    m_pMailList->header()->setStretchLastSection(false);
    m_pMailList->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(m_pMailList, &QTreeView::customContextMenuRequested, this, &CMainWindow::OnMailListRightClick);
    connect(m_pMailList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CMainWindow::SyncSelection);

    // The buttons over the log.
    m_pStopFilter = new QCheckBox(ui::Text(txt::kStopFilter), this);
    auto* clear = new QPushButton(ui::Text(txt::kClearList), this);
    auto* rules = new QPushButton(ui::Text(txt::kRulesButton), this);
    auto* spam = new QPushButton(ui::Text(txt::kSpamButton), this);
    auto* ham = new QPushButton(ui::Text(txt::kHamButton), this);
    auto* history = new QPushButton(ui::Text(txt::kHistoryButton), this);
    auto* settings = new QPushButton(ui::Text(txt::kSettingsButton), this);
    settings->setObjectName(QStringLiteral("settings"));
    settings->setAutoDefault(false);
    connect(settings, &QPushButton::clicked, this, &CMainWindow::OnSettings);
    spam->setObjectName(QStringLiteral("spam"));
    ham->setObjectName(QStringLiteral("ham"));
    history->setObjectName(QStringLiteral("history"));
    for (QPushButton* button : {spam, ham, history})
        button->setAutoDefault(false);
    connect(spam, &QPushButton::clicked, this, [this] { OnCorrect(true); });
    connect(ham, &QPushButton::clicked, this, [this] { OnCorrect(false); });
    connect(history, &QPushButton::clicked, this, &CMainWindow::OnHistory);
    clear->setObjectName(QStringLiteral("clear"));
    rules->setObjectName(QStringLiteral("rules"));
    rules->setDefault(true);
    clear->setAutoDefault(false);
    connect(m_pStopFilter, &QCheckBox::clicked, this, &CMainWindow::OnStopFilter);
    connect(clear, &QPushButton::clicked, this, &CMainWindow::OnClearList);
    connect(rules, &QPushButton::clicked, this, &CMainWindow::OnRules);

    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(ui::Text(txt::kLogLabel), this), 0, Qt::AlignBottom);
    controls->addStretch(1);
    controls->addWidget(spam);
    controls->addWidget(ham);
    controls->addWidget(history);
    controls->addWidget(settings);
    controls->addSpacing(dx(8));
    if (!withTray) {
        // Nothing else could end the program.
        m_pQuit = new QPushButton(ui::Text(txt::kQuitButton), this);
        m_pQuit->setObjectName(QStringLiteral("quit"));
        m_pQuit->setAutoDefault(false);
        connect(m_pQuit, &QPushButton::clicked, this, &CMainWindow::quitRequested);
        controls->addWidget(m_pQuit);
        controls->addSpacing(dx(8));
    }
    controls->addWidget(m_pStopFilter);
    controls->addWidget(clear);
    controls->addWidget(rules);

    // The log and the connections.
    m_pLog = new CLogView(hub.LogWriter().Log(), this);
    m_pConnections = new QListWidget(this);
    m_pConnections->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_pConnections->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* disconnect = new QPushButton(ui::Text(txt::kDisconnectAll), this);
    disconnect->setObjectName(QStringLiteral("disconnect"));
    disconnect->setAutoDefault(false);
    connect(disconnect, &QPushButton::clicked, this, &CMainWindow::OnDisconnectAll);
    auto* side = new QVBoxLayout;
    side->addWidget(new QLabel(ui::Text(txt::kConnectionsLabel), this));
    side->addWidget(m_pConnections, 1);
    side->addWidget(disconnect);
    const int sideWidth = std::max(dx(64), disconnect->sizeHint().width());
    m_pConnections->setFixedWidth(sideWidth);
    disconnect->setFixedWidth(sideWidth);
    auto* logRow = new QHBoxLayout;
    logRow->addWidget(m_pLog, 1);
    logRow->addLayout(side);

    // The progress of the current download.
    m_pMailboxBar = MakeBar(this, dx(80));
    m_pMessageBar = MakeBar(this, dx(80));
    m_pStatus = new QLabel(this);
    m_pStatus->setMinimumWidth(dx(120));
    auto* progress = new QHBoxLayout;
    progress->addWidget(new QLabel(ui::Text(txt::kReceptionLabel), this));
    progress->addWidget(m_pMailboxBar);
    progress->addSpacing(dx(8));
    progress->addWidget(new QLabel(ui::Text(txt::kCurrentMessageLabel), this));
    progress->addWidget(m_pMessageBar);
    progress->addSpacing(dx(10));
    progress->addWidget(m_pStatus, 1);

    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel(ui::Text(txt::kMailListLabel), this));
    column->addWidget(m_pMailList, 155);
    column->addLayout(controls);
    column->addLayout(logRow, 108);
    column->addLayout(progress);

    // The other two windows, hidden until asked for.
    m_pRulesDialog = new CRulesDialog(&hub, this);
    m_pAnalyseDialog = new CAnalyseDialog(hub, [this] { OpenRulesFromAnalysis(); }, this);
    m_pAnalyseDialog->m_correct = [this](CMailRecord& record, bool spam) { Correct(record, spam); };
    m_pHistoryDialog = new CHistoryDialog(
        hub, [this](CMailRecord* record) { m_pAnalyseDialog->ShowRecord(record); },
        [this](CMailRecord& record, bool spam) { Correct(record, spam); }, this);
    m_pSettingsDialog = new CSettingsDialog(hub, this);
    m_ask = [this](const std::string& question) {
        return QMessageBox::question(this, ui::Text(txt::kHamButton), ui::Text(question)) == QMessageBox::Yes;
    };

    hub.Progress().m_onChanged = [this] { ShowProgress(); };
    hub.Connections().m_onChanged = [this] { ShowConnections(); };
    ShowProgress();
    ShowConnections();

    // 572 by 326 dialog units; the columns follow the list's width.
    resize(std::max(dx(572), minimumSizeHint().width()), std::max(dy(326), minimumSizeHint().height()));
    SetUpColumns();
}

CMainWindow::~CMainWindow()
{
    m_hub.Progress().m_onChanged = nullptr;
    m_hub.Connections().m_onChanged = nullptr;
}

void CMainWindow::SetUpColumns()
{
    // The list's client width once the layout has placed it (the window is
    // hidden: its frame is placed, its viewport only when first shown).
    layout()->setGeometry(rect());
    const int w = m_pMailList->width() - 2 * m_pMailList->frameWidth();
    m_nColumnBase = w;
    const int widths[] = {w / 3, 2 * w / 3 - 200, 200, 120, 120, 120};
    for (int c = 0; c < 6; ++c)
        m_pMailList->setColumnWidth(c, widths[c]);
}

void CMainWindow::ShowProgress()
{
    const CProgressModel& progress = m_hub.Progress();
    m_pMailboxBar->setValue(progress.m_nMailbox);
    m_pMessageBar->setValue(progress.m_nMessage);
    m_pStatus->setText(ui::Text(progress.m_strStatus));
}

void CMainWindow::ShowConnections()
{
    m_pConnections->clear();
    for (const std::string& address : m_hub.Connections().Entries())
        m_pConnections->addItem(ui::Text(address));
}

void CMainWindow::SyncSelection()
{
    std::set<int32_t> rows;
    for (const QModelIndex& index : m_pMailList->selectionModel()->selectedRows())
        rows.insert(index.row());
    m_hub.MailList().m_selection = std::move(rows);
}

void CMainWindow::OnRules()
{
    if (!m_pRulesDialog->isVisible())
        m_hub.LoadRuleFile();
    m_pRulesDialog->show();
    m_pRulesDialog->raise();
    m_pRulesDialog->SelectRuleList(m_pRulesDialog->SelectedTab(), true);
    m_hub.LogRulesEdit();
}

void CMainWindow::OpenRulesFromAnalysis()
{
    if (!m_pRulesDialog->isVisible()) {
        m_hub.LoadRuleFile();
        m_pRulesDialog->SelectRuleList(m_pRulesDialog->SelectedTab(), true);
    }
    m_pRulesDialog->show();
    m_pRulesDialog->raise();
    // The keyboard goes with it, away from the analysis dialog.
    m_pRulesDialog->activateWindow();
    m_pRulesDialog->Entry()->setFocus(Qt::ActiveWindowFocusReason);
}

void CMainWindow::OnStopFilter()
{
    m_hub.OnStopFilter(m_pStopFilter->isChecked());
}

void CMainWindow::OnClearList()
{
    m_hub.OnClearList();
}

void CMainWindow::OnMailListRightClick()
{
    for (CMailRecord* record : m_hub.OnMailListRightClick())
        m_pAnalyseDialog->ShowRecord(record);
}

void CMainWindow::OnCorrect(bool spam)
{
    std::vector<CMailRecord*> records = m_hub.OnMailListRightClick();
    // A record that several selected rows show is corrected once.
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    for (CMailRecord* record : records)
        Correct(*record, spam);
}

void CMainWindow::Correct(CMailRecord& record, bool spam)
{
    if (!spam) {
        const std::string rule = m_hub.CaughtByRule(record);
        const std::string sender = CMainDialog::SenderAddress(record);
        if (!rule.empty() && !sender.empty() && m_ask &&
            m_ask(StrFormat(txt::kTrustQuestion, rule.c_str(), record.m_strSpamType.c_str(), sender.c_str())))
            m_hub.TrustSender(record);
    }
    m_hub.CorrectVerdict(record, spam);
}

void CMainWindow::OnHistory()
{
    m_pHistoryDialog->Refill();
    m_pHistoryDialog->show();
    m_pHistoryDialog->raise();
}

void CMainWindow::OnSettings()
{
    m_pSettingsDialog->Load();
    m_pSettingsDialog->show();
    m_pSettingsDialog->raise();
    m_pSettingsDialog->activateWindow();
}

void CMainWindow::OnDisconnectAll()
{
    m_hub.OnDisconnectAll();
}

void CMainWindow::reject()
{
    if (m_bWithTray)
        hide();
    else
        showMinimized();
}
