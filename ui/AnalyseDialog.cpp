#include "ui/AnalyseDialog.h"

#include "base/Format.h"
#include "base/MailRecord.h"
#include "base/Texts.h"
#include "shell/MainDialog.h"
#include "ui/UiText.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QPlainTextEdit* MakePane(QWidget* parent, bool horizontalScroll)
{
    auto* pane = new QPlainTextEdit(parent);
    pane->setReadOnly(true);
    pane->document()->setUndoRedoEnabled(false);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->setLineWrapMode(horizontalScroll ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
    return pane;
}

} // namespace

CAnalyseDialog::CAnalyseDialog(CMainDialog& hub, std::function<void()> openRules, QWidget* parent)
    : QDialog(parent), m_hub(hub), m_openRules(std::move(openRules))
{
    setWindowTitle(ui::Text(txt::kAnalyseCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(false);

    m_pSummary = MakePane(this, false);
    m_pMessage = MakePane(this, true);
    m_pSummary->setObjectName(QStringLiteral("summary"));
    m_pMessage->setObjectName(QStringLiteral("message"));

    auto* decoding = new QGroupBox(ui::Text(txt::kDecodingGroup), this);
    auto* decodingGrid = new QGridLayout(decoding);
    decodingGrid->addWidget(Button(txt::kBase64Button, "base64", &CAnalyseDialog::OnBase64), 0, 0);
    decodingGrid->addWidget(Button(txt::k8BitButton, "8bit", &CAnalyseDialog::On8Bit), 0, 1);
    decodingGrid->addWidget(Button(txt::kQuotedPrintableButton, "qp", &CAnalyseDialog::OnQuotedPrintable), 1, 0);
    decodingGrid->addWidget(Button(txt::kEntitiesButton, "entities", &CAnalyseDialog::OnEntities), 1, 1);

    auto* operations = new QGroupBox(ui::Text(txt::kTextOperationGroup), this);
    auto* operationsRow = new QHBoxLayout(operations);
    operationsRow->addWidget(Button(txt::kNoHtmlButton, "nohtml", &CAnalyseDialog::OnStripHtml));
    operationsRow->addWidget(Button(txt::kSqueezeButton, "squeeze", &CAnalyseDialog::OnSqueeze));

    auto* groups = new QHBoxLayout;
    groups->addWidget(decoding, 0, Qt::AlignTop);
    groups->addWidget(operations, 0, Qt::AlignTop);
    groups->addStretch(1);

    auto* ok = new QPushButton(ui::Text(txt::kOk), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CAnalyseDialog::accept);
    auto* rules = new QPushButton(ui::Text(txt::kRulesButton), this);
    rules->setObjectName(QStringLiteral("rules"));
    connect(rules, &QPushButton::clicked, this, [this] {
        if (m_openRules)
            m_openRules();
    });
    auto* spam = new QPushButton(ui::Text(txt::kSpamButton), this);
    auto* ham = new QPushButton(ui::Text(txt::kHamButton), this);
    spam->setObjectName(QStringLiteral("spam"));
    ham->setObjectName(QStringLiteral("ham"));
    for (QPushButton* button : {spam, ham}) {
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, button, spam] {
            if (m_pRecord && m_correct)
                m_correct(*m_pRecord, button == spam);
        });
    }
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addStretch(1);
    buttons->addWidget(spam);
    buttons->addWidget(ham);
    buttons->addWidget(rules);

    auto* column = new QVBoxLayout(this);
    column->addWidget(m_pSummary, 62);
    column->addWidget(m_pMessage, 189);
    column->addLayout(groups);
    column->addLayout(buttons);

    // 328 by 337 dialog units.
    const QFontMetrics metrics(font());
    resize(metrics.averageCharWidth() * 328 / 4, metrics.height() * 337 / 8);
}

QPushButton* CAnalyseDialog::Button(const char* text, const char* name, void (CAnalyseDialog::*handler)())
{
    auto* button = new QPushButton(ui::Text(text), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, handler);
    return button;
}

void CAnalyseDialog::ShowRecord(CMailRecord* record)
{
    show();
    raise();
    m_pRecord = record;
    Refill();
}

void CAnalyseDialog::Refill()
{
    if (!m_pRecord)
        return;
    const CMailRecord& r = *m_pRecord;
    m_strSummary = StrFormat(txt::kSummaryFormat, r.m_strReturnPath.c_str(), r.m_strTo.c_str(),
                             r.m_strFrom.c_str(), r.m_strCc.c_str(), r.m_strSubject.c_str());
    if (!r.m_strSpamType.empty())
        m_strSummary += StrFormat(txt::kVerdictFormat, r.m_strSpamType.c_str(), r.m_strFilterLabel.c_str(),
                                  r.m_strRuleText.c_str());
    m_pSummary->setPlainText(ui::PaneText(m_strSummary));
    SetMessage(m_hub.MessageText(r), false);
}

void CAnalyseDialog::SetMessage(std::string text, bool keepPlace)
{
    // After an operation the user goes on reading where they were: the
    // pane's scroll position is kept (as far as the new text reaches).
    QScrollBar* vertical = m_pMessage->verticalScrollBar();
    QScrollBar* horizontal = m_pMessage->horizontalScrollBar();
    const int top = vertical->value(), left = horizontal->value();
    m_strMessage = std::move(text);
    m_pMessage->setPlainText(ui::PaneText(m_strMessage));
    if (keepPlace) {
        vertical->setValue(top);
        horizontal->setValue(left);
    }
}

void CAnalyseDialog::OnBase64()
{
    SetMessage(m_hub.MailDecoder().DecodeBase64(m_strMessage, false));
}

void CAnalyseDialog::On8Bit()
{
    SetMessage(m_hub.MailDecoder().Decode8Bit(m_strMessage, false));
}

void CAnalyseDialog::OnQuotedPrintable()
{
    SetMessage(m_hub.MailDecoder().DecodeQuotedPrintable(m_strMessage, false));
}

void CAnalyseDialog::OnEntities()
{
    SetMessage(m_hub.MailDecoder().DecodeEntities(m_strMessage, false));
}

void CAnalyseDialog::OnStripHtml()
{
    SetMessage(m_hub.TextTools().StripHtml(m_strMessage));
}

void CAnalyseDialog::OnSqueeze()
{
    std::string text = m_strMessage;
    std::replace(text.begin(), text.end(), '\t', ' ');
    std::replace(text.begin(), text.end(), '\r', '\n');
    const CTextTools& tools = m_hub.TextTools();
    SetMessage(tools.SqueezeChar(tools.SqueezeChar(std::move(text), ' '), '\n'));
}
