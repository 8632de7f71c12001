// The activity log on screen: a read-only text box that follows the log entry
// by entry (never re-setting the whole text), drops what the cap cuts at the
// front, and keeps the end in view.
#pragma once

#include "ui/LogMirror.h"

#include <QPlainTextEdit>
#include <string_view>

class CActivityLog;

class CLogView : public QPlainTextEdit
{
    Q_OBJECT
public:
    // Shows `log` and follows it until destroyed.
    explicit CLogView(CActivityLog& log, QWidget* parent = nullptr);
    ~CLogView() override;

private:
    void OnAppended(std::string_view entry);
    void OnCleared();

    CActivityLog& m_log;
    CLogMirror m_mirror;
};
