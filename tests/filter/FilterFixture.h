// A hub in a private working folder, for the filter tests: the rule file is
// read from the current directory, so each test gets its own.
#pragma once

#include "shell/MainDialog.h"
#include "base/Paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class FilterFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = CurrentDirectory();
        char pattern[] = "/tmp/orvelane-filter-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_folder = pattern;
        ASSERT_TRUE(SetCurrentDirectory(m_folder));
        hub.m_bEchoLog = false;
        hub.m_clock = [] {
            std::tm t{};
            t.tm_hour = 12;
            t.tm_min = 34;
            t.tm_sec = 56;
            return t;
        };
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

    // The log entries without their time stamps.
    std::vector<std::string> LogLines() const { return LogLinesOf(hub); }
    static std::vector<std::string> LogLinesOf(const CMainDialog& hub)
    {
        std::vector<std::string> lines;
        const std::string text(hub.m_log.Text());
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            if (line.rfind("(12:34:56) ", 0) == 0)
                line = line.substr(11);
            lines.push_back(line);
            start = end + 2;
        }
        return lines;
    }

    static std::vector<std::string> Entries(const RuleList& list)
    {
        std::vector<std::string> out;
        for (const std::string* entry : list)
            out.push_back(*entry);
        return out;
    }

    CMainDialog hub;
    std::string m_folder;
    std::string m_previous;
};
