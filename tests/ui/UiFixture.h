// The windows over a quiet hub, in a private working folder that holds the
// rule file; and a sample mailbox analysed as a mail check would analyse it.
#pragma once

#include "base/Paths.h"
#include "shell/MainDialog.h"
#include "support/HubFixture.h"

#include <QCoreApplication>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <string>
#include <vector>

// Each spam message of the sample is caught by a different list; the
// trusted sender's message would match the body rule.
inline constexpr const char kSampleRules[] = "FROM:\r\nOFFERS@BULK-MAILER.EXAMPLE\r\nRETPATH:\r\nLOTTERY.EXAMPLE\r\n"
                                             "SUBJECT:\r\nMIRACLE*PILLS\r\nBODY:\r\nCLAIM YOUR FREE CRUISE NOW\r\n"
                                             "TRUST:\r\nGRACE@PARTNER.EXAMPLE\r\n";

// A working folder made current for the test's life.
class CWorkFolder
{
public:
    CWorkFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvelane-ui-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
        m_previous = CurrentDirectory();
        SetCurrentDirectory(m_path);
    }
    ~CWorkFolder()
    {
        SetCurrentDirectory(m_previous);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }
    void Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(m_path + "/" + name, std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(m_path + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string m_path;
    std::string m_previous;
};

// The committed test messages, CR LF line ends, in name order.
inline std::vector<std::string> SampleMessages()
{
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(ORVELANE_TEST_MESSAGES))
        if (entry.path().extension() == ".eml")
            names.push_back(entry.path());
    std::sort(names.begin(), names.end());
    std::vector<std::string> texts;
    for (const auto& name : names) {
        std::ifstream in(name, std::ios::binary);
        const std::string raw((std::istreambuf_iterator<char>(in)), {});
        std::string text;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r'))
                text += '\r';
            text += raw[i];
        }
        texts.push_back(text);
    }
    return texts;
}

// Analyses `texts` as one mail check of session `number` (UIDLs "uidl-1",
// ...), then keeps copies of the records as processed mails, as the proxy
// does after a scan.
inline void AnalyseSample(CMainDialog& hub, const std::vector<std::string>& texts, int32_t number = 1)
{
    CProxyServer& proxy = hub.Proxy();
    CSession* session = proxy.m_sessions.append(std::make_unique<CSession>(proxy));
    session->m_nNumber = number;
    session->m_nMessageCount = static_cast<int32_t>(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        auto record = std::make_unique<CMailRecord>();
        record->m_nNumber = static_cast<int32_t>(i + 1);
        record->m_pszText = texts[i];
        record->m_nSize = static_cast<int32_t>(texts[i].size());
        record->m_strUidl = "uidl-" + std::to_string(i + 1);
        record->m_nClientNumber = number;
        session->m_messages.append(std::move(record));
    }
    hub.AnalyseMessages(session);
    for (CMailRecord* record : session->m_messages) {
        auto copy = std::make_unique<CMailRecord>();
        copy->assignFrom(*record);
        copy->m_nClientNumber = number;
        proxy.m_processedMails.append(std::move(copy));
    }
    proxy.m_sessions.remove(session);
}

// Lets the learning the window started finish (its answers come from worker
// threads through the event loop), for at most `seconds`.
inline void WaitForLearning(const CMainDialog& hub, int seconds = 60)
{
    for (int i = 0; i < seconds * 100 && hub.LearningUnderWay() > 0; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
