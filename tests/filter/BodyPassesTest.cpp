// The four body passes against their plain definition, step by step as the
// passes are described: every pass decodes the message afresh. Generated
// messages mix markup, entities, encoding markers and the words of the rules,
// so that every pass gets to match and the shortcuts between passes are
// crossed both ways.
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/BodyPasses.h"
#include "filter/RuleCache.h"
#include "base/Texts.h"

#include <gtest/gtest.h>

#include <random>

namespace {

SBodyVerdict PlainPasses(const std::string& message, const SBodyMatchers& matchers, bool debug)
{
    SBodyVerdict verdict;
    CMailDecoder decoder;
    decoder.SetLog(&verdict.log);
    const CTextTools tools;
    auto progress = [&](const char* line) {
        if (debug)
            verdict.log.AddLog(line, true);
    };
    auto search = [&](const std::string& text, const CRuleMatcher* matcher, const char* label) {
        if (!matcher)
            return false;
        const size_t status = text.find("Status:");
        size_t position = 0;
        const int32_t entry = matcher->FirstBodyMatch(text, status == std::string::npos ? 0 : status + 7, &position);
        if (entry < 0)
            return false;
        verdict.position = static_cast<int32_t>(position);
        verdict.ruleText = matcher->SearchedEntry(entry);
        verdict.label = label;
        return true;
    };
    progress(txt::kSearchWithHtml);
    std::string text = decoder.DecodeBase64(message, true);
    text = decoder.Decode8Bit(std::move(text), true);
    text = decoder.DecodeEntities(std::move(text), true);
    text = decoder.DecodeQuotedPrintable(std::move(text), true);
    if (search(tools.FlattenBlanks(text), matchers.html, txt::kLabelHtml))
        return verdict;
    const bool work = matchers.plain != nullptr;
    progress(txt::kSearchWithoutHtml);
    if (work) {
        text = decoder.DecodeBase64(message, false);
        text = tools.StripHtml(std::move(text));
        text = decoder.Decode8Bit(std::move(text), false);
        text = decoder.DecodeEntities(std::move(text), false);
        text = decoder.DecodeQuotedPrintable(std::move(text), false);
        text = tools.FlattenBlanks(std::move(text));
        if (search(text, matchers.plain, txt::kLabelNoHtml))
            return verdict;
    }
    progress(txt::kRemovingSeparators);
    if (work) {
        RemoveSeparatorsInPlace(text, true);
        decoder.ConvertLookAlikes(text);
    }
    progress(txt::kSearchWithoutSeparators);
    if (work && search(text, matchers.stripped, txt::kLabelNoSeparators))
        return verdict;
    progress(txt::kRemovingRepeats);
    if (work)
        text = tools.SqueezeRepeats(std::move(text));
    progress(txt::kSearchWithoutRepeats);
    if (work)
        search(text, matchers.stripped, txt::kLabelNoRepeats);
    return verdict;
}

} // namespace

TEST(BodyPasses, AgreeWithThePlainDefinition)
{
    const std::vector<std::string> pieces = {
        "cheap", "pills", "watch", "es", " ", " ", "\r\n", "\n", "\t", "c-h", "e.a", "p!", "<b>", "</b>",
        "<font size=1>", "</font>", "<", ">", "&amp;", "&eacute;", "&#65;", "&#", ";", ": 8bit", ": base64",
        "charset=iso-8859-1", "=41", "=\r\n", "%41", "Y2hlYXAgcGlsbHM=", "\r\n\r\n", "Status:", "x", "\xE9",
        "ww", "aa"};
    const char* const ruleFiles[] = {
        "BODYHTML:\r\n<b>cheap\r\nBODY:\r\ncheap pills\r\nwatches\r\nc h e a p\r\n",
        "BODY:\r\ncheap\r\n",
        "BODYHTML:\r\n<font\r\n",
        "BODY:\r\nA\xE9\r\nwwatches\r\n",
    };
    std::mt19937 random(23);
    int matched[5] = {};
    for (const char* file : ruleFiles) {
        const CCompiledRuleFile rules(file);
        const SBodyMatchers matchers = rules.Matchers();
        for (int round = 0; round < 3000; ++round) {
            std::string message = "Subject: s\r\n";
            if (round % 2 == 0)
                message += "Status: \r\n";
            message += "\r\n";
            const int count = std::uniform_int_distribution<int>(0, 40)(random);
            for (int i = 0; i < count; ++i)
                message += pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(random)];
            const bool debug = round % 3 == 0;
            const SBodyVerdict fast = RunBodyPasses(message, matchers, debug);
            const SBodyVerdict plain = PlainPasses(message, matchers, debug);
            ASSERT_EQ(fast.position, plain.position) << message;
            ASSERT_EQ(fast.label, plain.label) << message;
            ASSERT_EQ(fast.ruleText, plain.ruleText) << message;
            ASSERT_EQ(fast.log, plain.log) << message;
            const std::string labels[] = {txt::kLabelHtml, txt::kLabelNoHtml, txt::kLabelNoSeparators,
                                          txt::kLabelNoRepeats};
            for (int k = 0; k < 4; ++k)
                matched[k] += fast.label == labels[k];
            matched[4] += fast.position == -1;
        }
    }
    // Every pass, and no pass, was the outcome somewhere.
    for (int k = 0; k < 5; ++k)
        EXPECT_GT(matched[k], 0) << k;
}
