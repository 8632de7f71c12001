#include "ui/RulesDialog.h"

#include "base/Format.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "shell/MainDialog.h"
#include "ui/UiText.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>

namespace {

constexpr ERuleList kTabLists[CRulesDialog::kTabCount] = {
    kRuleFrom, kRuleRetPath, kRuleTo, kRuleCc, kRuleSubject, kRuleBody, kRuleBodyHtml, kRuleTrust, kRuleRelay};

// The row's own bytes, kept beside the text shown.
constexpr int kBytesRole = Qt::UserRole;

std::string RowBytes(const QListWidgetItem* item)
{
    return item->data(kBytesRole).toByteArray().toStdString();
}

} // namespace

ERuleList CRulesDialog::ListOfTab(int tab)
{
    return tab >= 0 && tab < kTabCount ? kTabLists[tab] : kRuleListCount;
}

CRulesDialog::CRulesDialog(CMainDialog* owner, QWidget* parent) : QDialog(parent), m_pOwner(owner)
{
    setWindowTitle(ui::Text(txt::kRulesCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(false);

    m_pTabs = new QTabBar(this);
    m_pTabs->setExpanding(false);
    m_pTabs->setDrawBase(false);
    m_pTabs->setUsesScrollButtons(true);
    for (const char* tab : txt::kRuleTabs)
        m_pTabs->addTab(ui::Text(tab));
    connect(m_pTabs, &QTabBar::currentChanged, this, [this](int tab) { SelectRuleList(tab, true); });

    m_pList = new QListWidget(this);
    m_pList->setSortingEnabled(true);
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(m_pList, &QListWidget::itemClicked, this, [this] { OnListClick(); });

    m_pEntry = new QLineEdit(this);
    m_pFailure = new QLabel(this);
    m_pFailure->setWordWrap(true);
    m_pFailure->setStyleSheet(QStringLiteral("color: #b00000"));
    m_pFailure->hide();

    auto* ok = new QPushButton(ui::Text(txt::kOk), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(ui::Text(txt::kCancel), this);
    auto* add = new QPushButton(ui::Text(txt::kAddRule), this);
    auto* remove = new QPushButton(ui::Text(txt::kRemoveRule), this);
    ok->setObjectName(QStringLiteral("ok"));
    cancel->setObjectName(QStringLiteral("cancel"));
    add->setObjectName(QStringLiteral("add"));
    remove->setObjectName(QStringLiteral("remove"));
    connect(ok, &QPushButton::clicked, this, &CRulesDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CRulesDialog::reject);
    connect(add, &QPushButton::clicked, this, &CRulesDialog::OnAddRule);
    connect(remove, &QPushButton::clicked, this, &CRulesDialog::OnRemoveRule);

    // The tabs span the dialog's width, so that all nine show at once.
    auto* grid = new QGridLayout(this);
    grid->addWidget(m_pTabs, 0, 0, 1, 2);
    grid->addWidget(m_pList, 1, 0, 4, 1);
    grid->addWidget(ok, 1, 1);
    grid->addWidget(cancel, 2, 1);
    grid->addWidget(add, 4, 1, Qt::AlignBottom);
    grid->addWidget(m_pEntry, 5, 0);
    grid->addWidget(remove, 5, 1);
    grid->addWidget(m_pFailure, 6, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(3, 1);
    grid->setVerticalSpacing(grid->verticalSpacing() > 0 ? grid->verticalSpacing() : 6);

    // 444 by 249 dialog units.
    const QFontMetrics metrics(font());
    resize(metrics.averageCharWidth() * 444 / 4, metrics.height() * 249 / 8);

    SelectRuleList(0, true);
}

int CRulesDialog::SelectedTab() const
{
    return m_pTabs->currentIndex();
}

void CRulesDialog::SelectRuleList(int tab, bool refill)
{
    if (!m_pOwner)
        return;
    const ERuleList which = ListOfTab(tab);
    m_pCurrentList = which == kRuleListCount ? nullptr : &m_pOwner->Rules().List(which);
    m_nTab = tab;
    if (m_pCurrentList && refill) {
        m_pList->clear();
        for (std::string* entry = m_pCurrentList->first(); entry; entry = m_pCurrentList->next(entry))
            AddRow(*entry);
    }
}

void CRulesDialog::AddRow(const std::string& text)
{
    auto* item = new QListWidgetItem(ui::Text(text));
    item->setData(kBytesRole, QByteArray::fromStdString(text));
    m_pList->addItem(item);
}

void CRulesDialog::OnAddRule()
{
    SelectRuleList(SelectedTab(), false);
    if (!m_pCurrentList)
        return;
    m_strEntry = ui::Bytes(m_pEntry->text());
    if (RuleListContains(m_strEntry, *m_pCurrentList))
        return;
    m_pCurrentList->append(std::make_unique<std::string>(m_strEntry));
    const std::string added = std::exchange(m_strEntry, {});
    m_pEntry->clear();
    AddRow(added);
}

void CRulesDialog::OnRemoveRule()
{
    if (!m_pCurrentList)
        return;
    std::vector<std::string> texts;
    for (const QListWidgetItem* item : m_pList->selectedItems())
        texts.push_back(RowBytes(item));
    for (const std::string& text : texts) {
        std::string* entry = m_pCurrentList->first();
        while (entry && !w1252::EqualsNoCase(*entry, text))
            entry = m_pCurrentList->next(entry);
        if (!entry)
            continue;
        // The row found the way the list finds a text: without regard to case.
        for (int row = 0; row < m_pList->count(); ++row) {
            if (w1252::EqualsNoCase(RowBytes(m_pList->item(row)), *entry)) {
                delete m_pList->takeItem(row);
                break;
            }
        }
        m_pCurrentList->remove(entry);
    }
    m_strEntry.clear();
    m_pEntry->clear();
}

void CRulesDialog::OnListClick()
{
    const QList<QListWidgetItem*> selected = m_pList->selectedItems();
    if (selected.isEmpty())
        return;
    // The first selected row in the list's order.
    const QListWidgetItem* first = selected.front();
    for (const QListWidgetItem* item : selected)
        if (m_pList->row(item) < m_pList->row(first))
            first = item;
    m_strEntry = RowBytes(first);
    m_pEntry->setText(ui::Text(m_strEntry));
}

bool CRulesDialog::SaveRules()
{
    if (!m_pOwner || m_pOwner->Rules().FilePath().empty()) {
        hide();
        return true;
    }
    if (!m_pOwner->SaveRuleFile()) {
        // The edits stay in memory and the dialog stays open, saying why.
        const std::string& path = m_pOwner->Rules().FilePath();
        m_pOwner->AddLog(StrFormat(txt::kRuleFileUnwritable, path.c_str()), true);
        m_pFailure->setText(ui::Text(StrFormat(txt::kRuleFileUnwritableBox, path.c_str())));
        m_pFailure->show();
        return false;
    }
    m_pFailure->hide();
    hide();
    return true;
}

void CRulesDialog::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && focusWidget() == m_pEntry && !(event->modifiers() & ~Qt::KeypadModifier)) {
        OnAddRule();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CRulesDialog::accept()
{
    SaveRules();
}

void CRulesDialog::reject()
{
    m_pFailure->hide();
    hide();
}
