// The start-up self-test: when the configuration folder holds a test message,
// it is analysed once like a downloaded message, so a rule set can be tried
// without a mail server.
#include "base/Numbers.h"
#include "base/Paths.h"
#include "base/Texts.h"
#include "shell/MainDialog.h"

#include <limits>
#include <memory>

void CMainDialog::RunSelfTest()
{
    // A session without connections, numbered like the last one.
    CSession* session = m_proxy.m_sessions.append(std::make_unique<CSession>(m_proxy));
    session->m_nNumber = m_proxy.m_nLastSessionNumber;
    session->m_nMessageCount = 1;

    const std::string path = FindFile(ConfigFolder(), txt::kSelfTestFileName);
    std::string text;
    int64_t length = 0;
    if (ReadTextFile(path, text, &length)) {
        AddLog(std::string(txt::kLoading) + path + " \r\n", true);
        auto record = std::make_unique<CMailRecord>();
        record->m_pszText = std::move(text);
        // The size is the file's length on disk, as the file reports it.
        record->m_nSize = Clamp32(length);
        session->m_messages.append(std::move(record));
        m_analysis.AnalyseMessages(session->m_messages, session->m_strServerHost, session->m_strUserCommand);
    }
    // Nothing of the test stays behind.
    m_proxy.m_sessions.remove(session);
}
