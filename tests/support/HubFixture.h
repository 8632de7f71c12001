// The one hub set-up of the tests: log echo off and the clock pinned.
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

// Quiets `hub` for a test: nothing echoed, every stamp at `time`.
inline void QuietHub(CMainDialog& hub, std::tm time = PinnedTime())
{
    hub.LogWriter().SetEcho(false);
    hub.LogWriter().SetClock([time] { return time; });
}

class HubTest : public ::testing::Test
{
protected:
    HubTest() { QuietHub(hub); }
    std::string Log() const { return std::string(hub.Log().Text()); }

    CMainDialog hub;
};
