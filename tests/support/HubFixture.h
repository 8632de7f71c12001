// A hub for tests: log echo off and the clock pinned to 09:05:03.
#pragma once

#include "shell/MainDialog.h"

#include <gtest/gtest.h>

inline std::tm PinnedTime(int h = 9, int m = 5, int s = 3)
{
    std::tm t{};
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return t;
}

class HubTest : public ::testing::Test
{
protected:
    HubTest()
    {
        hub.m_bEchoLog = false;
        hub.m_clock = [] { return PinnedTime(); };
    }
    std::string Log() const { return std::string(hub.m_log.Text()); }

    CMainDialog hub;
};
