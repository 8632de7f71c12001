// A hub whose decoder logs into a quiet activity log with a pinned clock.
#pragma once

#include "shell/MainDialog.h"

#include <gtest/gtest.h>

#include <string>

class DecoderTest : public ::testing::Test
{
protected:
    DecoderTest()
    {
        m_hub.m_bEchoLog = false;
        m_hub.m_clock = [] {
            std::tm t{};
            t.tm_hour = 9;
            t.tm_min = 5;
            t.tm_sec = 7;
            return t;
        };
    }
    CMailDecoder& Decoder() { return m_hub.m_mailDecoder; }
    std::string Log() const { return std::string(m_hub.m_log.Text()); }
    static std::string Entry(const std::string& text) { return "(09:05:07) " + text; }

    CMainDialog m_hub;
};
