#include "ui/LogView.h"

#include "shell/ActivityLog.h"
#include "ui/UiText.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// The log's line ends are CR LF; the box shows line feeds only.
QString WithoutCarriageReturns(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes)
        if (c != '\r')
            text.push_back(c);
    return ui::Text(text);
}

} // namespace

CLogView::CLogView(CActivityLog& log, QWidget* parent) : QPlainTextEdit(parent), m_log(log)
{
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    document()->setUndoRedoEnabled(false);
    const std::string_view text = m_log.Text();
    m_mirror.Append(text, text.size());
    setPlainText(WithoutCarriageReturns(text));
    m_log.m_onAppended = [this](std::string_view entry, bool) { OnAppended(entry); };
    m_log.m_onCleared = [this] { OnCleared(); };
}

CLogView::~CLogView()
{
    m_log.m_onAppended = nullptr;
    m_log.m_onCleared = nullptr;
}

void CLogView::OnAppended(std::string_view entry)
{
    const size_t drop = m_mirror.Append(entry, m_log.Size());
    QTextCursor cursor(document());
    if (drop > 0) {
        cursor.setPosition(0);
        cursor.setPosition(static_cast<int>(drop), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(WithoutCarriageReturns(entry));
    // The end of the log stays in view, as after every entry.
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

void CLogView::OnCleared()
{
    m_mirror.Clear();
    clear();
}
