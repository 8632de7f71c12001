// The filter components wired together as the hub wires them, in a private
// working folder: the rule file is read from the current directory, so each
// test gets its own.
#pragma once

#include "base/LogSink.h"
#include "base/Models.h"
#include "base/Paths.h"
#include "base/SettingsValues.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/Analysis.h"
#include "filter/PlugIns.h"
#include "filter/RuleSet.h"
#include "shell/ActivityLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The log as the activity log would hold it (shortened lines, masked
// passwords), every entry stamped 12:34:56.
class CTestLog final : public ILogSink
{
public:
    void AddLog(std::string text, bool truncate) override
    {
        if (!text.empty())
            m_text += StampLogEntry(PrepareLogText(std::move(text), truncate), 12, 34, 56);
    }
    void Clear() { m_text.clear(); }
    // The entries without their time stamps.
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < m_text.size()) {
            size_t end = m_text.find("\r\n", start);
            if (end == std::string::npos)
                end = m_text.size();
            std::string line = m_text.substr(start, end - start);
            if (line.rfind("(12:34:56) ", 0) == 0)
                line = line.substr(11);
            lines.push_back(line);
            start = end + 2;
        }
        return lines;
    }

private:
    std::string m_text;
};

// The components; plug-ins write to the log through the window handle.
class CFilterParts
{
public:
    CFilterParts()
    {
        m_window.size = sizeof(OrvelaneWindow);
        m_window.SendMessage = &CFilterParts::SendMessage;
        m_window.host = &log;
        plugIns.SetWindow(&m_window, kSetLogMessage);
    }
    CFilterParts(const CFilterParts&) = delete;
    CFilterParts& operator=(const CFilterParts&) = delete;

    CTestLog log;
    CSettings settings;
    CMailListModel mailList;
    CMailDecoder decoder{&log};
    CTextTools tools;
    CRuleSet rules{log};
    CPlugIns plugIns{log, settings, decoder, tools};
    CAnalysis analysis{log, settings, mailList, rules, plugIns, decoder, tools};

private:
    static constexpr uint32_t kSetLogMessage = 0xC123;
    static intptr_t SendMessage(OrvelaneWindow* window, uint32_t message, uintptr_t, intptr_t lParam)
    {
        if (message == kSetLogMessage && lParam)
            static_cast<CTestLog*>(window->host)->AddLog(reinterpret_cast<const char*>(lParam), true);
        return 0;
    }
    OrvelaneWindow m_window{};
};

class FilterFixture : public ::testing::Test, protected CFilterParts
{
protected:
    void SetUp() override
    {
        m_previous = CurrentDirectory();
        char pattern[] = "/tmp/orvelane-filter-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_folder = pattern;
        ASSERT_TRUE(SetCurrentDirectory(m_folder));
    }
    void TearDown() override
    {
        SetCurrentDirectory(m_previous);
        std::filesystem::remove_all(m_folder);
    }

    void WriteRules(const std::string& bytes)
    {
        std::ofstream(m_folder + "/blacklist.txt", std::ios::binary) << bytes;
    }

    std::vector<std::string> LogLines() const { return log.Lines(); }

    static std::vector<std::string> Entries(const RuleList& list)
    {
        std::vector<std::string> out;
        for (const std::string* entry : list)
            out.push_back(*entry);
        return out;
    }

    std::string m_folder;
    std::string m_previous;
};
