#include "ui/HistoryDialog.h"

#include "base/Format.h"
#include "base/MailRecord.h"
#include "base/Texts.h"
#include "shell/MainDialog.h"
#include "ui/UiText.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { kDate = 0, kFrom, kSubject, kVerdict, kColumns };

// What the verdict column says of a kept message.
std::string VerdictText(const SKeptMessage& message)
{
    if (message.corrected >= 0)
        return message.corrected ? txt::kCellCorrectedSpam : txt::kCellCorrectedHam;
    if (!message.spam)
        return txt::kVerdictHam;
    std::string text = txt::kVerdictSpam;
    if (!message.spamType.empty())
        text += " (" + message.spamType + (message.ruleText.empty() ? "" : " : " + message.ruleText) + ")";
    return text;
}

// Sorted by the time, not by the text of the date.
class CKeptItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == kDate)
            return data(kDate, Qt::UserRole + 1).toLongLong() < other.data(kDate, Qt::UserRole + 1).toLongLong();
        return QTreeWidgetItem::operator<(other);
    }
};

} // namespace

CHistoryDialog::CHistoryDialog(CMainDialog& hub, std::function<void(CMailRecord*)> show,
                               std::function<void(CMailRecord&, bool)> correct, QWidget* parent)
    : QDialog(parent), m_hub(hub), m_open(std::move(show)), m_correct(std::move(correct))
{
    setWindowTitle(ui::Text(txt::kHistoryCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(false);

    m_pSearch = new QLineEdit(this);
    m_pSearch->setObjectName(QStringLiteral("search"));
    m_pSearch->setClearButtonEnabled(true);
    m_pVerdict = new QComboBox(this);
    m_pVerdict->setObjectName(QStringLiteral("verdict"));
    m_pVerdict->addItem(ui::Text(txt::kHistoryAll), -1);
    m_pVerdict->addItem(ui::Text(txt::kHistorySpam), 1);
    m_pVerdict->addItem(ui::Text(txt::kHistoryHam), 0);
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(new QLabel(ui::Text(txt::kHistorySearch), this));
    searchRow->addWidget(m_pSearch, 1);
    searchRow->addWidget(m_pVerdict);

    m_pList = new QTreeWidget(this);
    m_pList->setObjectName(QStringLiteral("history"));
    m_pList->setColumnCount(kColumns);
    m_pList->setHeaderLabels({ui::Text(txt::kHistoryDate), ui::Text(txt::kHistoryFrom),
                              ui::Text(txt::kHistorySubject), ui::Text(txt::kHistoryVerdict)});
    m_pList->setRootIsDecorated(false);
    m_pList->setUniformRowHeights(true);
    m_pList->setAllColumnsShowFocus(true);
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pList->setSortingEnabled(true);
    m_pList->sortByColumn(kDate, Qt::DescendingOrder);
    m_pList->header()->setStretchLastSection(true);
    connect(m_pList, &QTreeWidget::itemDoubleClicked, this, [this] { OnOpen(); });

    auto* open = new QPushButton(ui::Text(txt::kHistoryOpen), this);
    auto* spam = new QPushButton(ui::Text(txt::kSpamButton), this);
    auto* ham = new QPushButton(ui::Text(txt::kHamButton), this);
    auto* ok = new QPushButton(ui::Text(txt::kOk), this);
    open->setObjectName(QStringLiteral("open"));
    spam->setObjectName(QStringLiteral("spam"));
    ham->setObjectName(QStringLiteral("ham"));
    ok->setObjectName(QStringLiteral("ok"));
    for (QPushButton* button : {open, spam, ham, ok})
        button->setAutoDefault(false);
    connect(open, &QPushButton::clicked, this, &CHistoryDialog::OnOpen);
    connect(spam, &QPushButton::clicked, this, [this] { OnCorrect(true); });
    connect(ham, &QPushButton::clicked, this, [this] { OnCorrect(false); });
    connect(ok, &QPushButton::clicked, this, &CHistoryDialog::hide);
    m_pCount = new QLabel(this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pCount, 1);
    buttons->addWidget(open);
    buttons->addWidget(spam);
    buttons->addWidget(ham);
    buttons->addWidget(ok);

    auto* column = new QVBoxLayout(this);
    column->addLayout(searchRow);
    column->addWidget(m_pList, 1);
    column->addLayout(buttons);

    connect(m_pSearch, &QLineEdit::textChanged, this, &CHistoryDialog::Refill);
    connect(m_pVerdict, &QComboBox::currentIndexChanged, this, &CHistoryDialog::Refill);

    const QFontMetrics metrics(font());
    resize(metrics.averageCharWidth() * 132, metrics.height() * 30);
    // The widest date the column shows, with the room a header's sort arrow takes.
    m_pList->setColumnWidth(kDate, metrics.horizontalAdvance(QStringLiteral("00/00/0000 00:00")) +
                                       metrics.averageCharWidth() * 4);
    m_pList->setColumnWidth(kFrom, metrics.averageCharWidth() * 32);
    m_pList->setColumnWidth(kSubject, metrics.averageCharWidth() * 44);
}

CHistoryDialog::~CHistoryDialog() = default;

void CHistoryDialog::Refill()
{
    SKeptQuery query;
    query.text = ui::Bytes(m_pSearch->text());
    query.verdict = m_pVerdict->currentData().toInt();
    m_rows = m_hub.History(query);
    m_pList->setSortingEnabled(false);
    m_pList->clear();
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const SKeptMessage& message = m_rows[i];
        auto* item = new CKeptItem(m_pList);
        const QString day =
            message.kept > 0 ? QDateTime::fromSecsSinceEpoch(message.kept).toString(QStringLiteral("dd/MM/yyyy HH:mm"))
                             : QString();
        item->setText(kDate, day);
        item->setData(kDate, Qt::UserRole, static_cast<qulonglong>(i));
        item->setData(kDate, Qt::UserRole + 1, static_cast<qlonglong>(message.kept));
        // A header's value keeps the blank after its colon; a column starts at the text.
        item->setText(kFrom, ui::Text(message.from).trimmed());
        item->setText(kSubject, ui::Text(message.subject).trimmed());
        item->setText(kVerdict, ui::Text(VerdictText(message)));
    }
    m_pList->setSortingEnabled(true);
    m_pCount->setText(m_hub.MessageStore().IsOpen()
                          ? ui::Text(StrFormat(txt::kHistoryCount, static_cast<int>(m_rows.size())))
                          : ui::Text(txt::kHistoryNoStore));
}

std::vector<const SKeptMessage*> CHistoryDialog::Selected() const
{
    std::vector<const SKeptMessage*> selected;
    for (int row = 0; row < m_pList->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = m_pList->topLevelItem(row);
        const size_t index = item->data(kDate, Qt::UserRole).toULongLong();
        if (item->isSelected() && index < m_rows.size())
            selected.push_back(&m_rows[index]);
    }
    return selected;
}

void CHistoryDialog::OnOpen()
{
    const std::vector<const SKeptMessage*> selected = Selected();
    if (selected.empty())
        return;
    auto record = std::make_unique<CMailRecord>();
    if (!m_hub.OpenKept(*selected.front(), *record))
        return;
    m_pOpened = std::move(record);
    if (m_open)
        m_open(m_pOpened.get());
}

void CHistoryDialog::OnCorrect(bool spam)
{
    for (const SKeptMessage* message : Selected()) {
        CMailRecord record;
        if (m_hub.OpenKept(*message, record) && m_correct)
            m_correct(record, spam);
    }
    Refill();
}
