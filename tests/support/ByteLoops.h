// Runs a test body once with the 16-byte block loops the processor allows and
// once with the plain byte loops, so that both stay equal.
#pragma once

#include "decode/ByteCompaction.h"

#include <gtest/gtest.h>

template <typename Body> void WithEachByteLoop(Body body)
{
    struct Restore {
        ~Restore() { decode::UseByteCompaction(true); }
    } restore;
    for (const bool blocks : {true, false}) {
        SCOPED_TRACE(blocks ? "block loops" : "byte loops");
        decode::UseByteCompaction(blocks);
        body();
        if (::testing::Test::HasFatalFailure())
            return;
    }
}
