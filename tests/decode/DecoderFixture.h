// A decoder whose log lines are captured, and read back as the activity log
// would show them with its clock at 09:05:07.
#pragma once

#include "base/LogSink.h"
#include "decode/MailDecoder.h"

#include <gtest/gtest.h>

#include <string>

class DecoderTest : public ::testing::Test
{
protected:
    CMailDecoder& Decoder() { return m_decoder; }
    std::string Log() const
    {
        std::string text;
        for (const CCapturedLog::Entry& entry : m_log.Entries())
            text += Entry(entry.first);
        return text;
    }
    static std::string Entry(const std::string& text) { return "(09:05:07) " + text; }

    CCapturedLog m_log;
    CMailDecoder m_decoder{&m_log};
};
