// Throughput of every decoder and text operation over the real-mail corpus,
// and their time on hostile 500,000-byte texts built here.
#include "support/Corpus.h"

#include "decode/MailDecoder.h"
#include "decode/TextTools.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <random>

namespace {

using Operation = std::function<std::string(const std::string&)>;

CMailDecoder& Decoder()
{
    static CMailDecoder decoder;
    return decoder;
}
const CTextTools& Tools()
{
    static CTextTools tools;
    return tools;
}

const std::vector<std::pair<const char*, Operation>>& Operations()
{
    static const std::vector<std::pair<const char*, Operation>> operations = {
        {"DecodeBase64", [](const std::string& t) { return Decoder().DecodeBase64(t, false); }},
        {"Decode8Bit", [](const std::string& t) { return Decoder().Decode8Bit(t, false); }},
        {"DecodeQuotedPrintable", [](const std::string& t) { return Decoder().DecodeQuotedPrintable(t, false); }},
        {"DecodeEntities", [](const std::string& t) { return Decoder().DecodeEntities(t, false); }},
        {"DecodeHeaderWords", [](const std::string& t) { return Decoder().DecodeHeaderWords(t); }},
        {"ConvertLookAlikes",
         [](const std::string& t) {
             std::string copy = t;
             Decoder().ConvertLookAlikes(copy);
             return copy;
         }},
        {"FindNoCase",
         [](const std::string& t) { return std::to_string(Tools().FindNoCase(t, "Subject: free viagra now")); }},
        {"RemoveFontSpans",
         [](const std::string& t) { return Tools().RemoveFontSpans(t, {"<font", "font-size"}, {"/font>"}, 7); }},
        {"StripHtml", [](const std::string& t) { return Tools().StripHtml(t); }},
        {"SqueezeChar", [](const std::string& t) { return Tools().SqueezeChar(t, ' '); }},
        {"SqueezeRepeats", [](const std::string& t) { return Tools().SqueezeRepeats(t); }},
    };
    return operations;
}

void Corpus(benchmark::State& state, const Operation& op)
{
    const auto& corpus = LoadCorpus();
    if (corpus.empty()) {
        state.SkipWithError("no corpus: set ORVELANE_CORPUS (scripts/fetch-corpus.sh)");
        return;
    }
    for (auto _ : state)
        for (const auto& message : corpus)
            benchmark::DoNotOptimize(op(message.text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(CorpusBytes(corpus)));
}

// ---- hostile texts, 500,000 bytes each ----------------------------------------
constexpr size_t kSize = 500000;

std::string Repeat(const std::string& head, const std::string& unit, const std::string& tail = "")
{
    std::string out = head;
    while (out.size() + unit.size() + tail.size() <= kSize)
        out += unit;
    out += tail;
    out.resize(kSize, ' ');
    return out;
}

std::string RandomOf(const std::string& alphabet, uint32_t seed)
{
    std::mt19937 random(seed);
    std::string out(kSize, ' ');
    for (char& c : out)
        c = alphabet[random() % alphabet.size()];
    return out;
}

// Distinct spaced forms of one entity, each once: every one is a replacement
// of its own.
std::string SpacedEntities()
{
    std::string out;
    for (int i = 0; out.size() < kSize - 400; ++i)
        for (int j = 0; j <= i && out.size() < kSize - 400; ++j)
            out.append("&").append(j, ' ').append("a").append(i - j, ' ').append("mp; ");
    out.resize(kSize, ' ');
    return out;
}

std::string SpacedEntitiesWithCopies()
{
    // Every spaced form also stands once before it is first met, so each
    // replacement reaches back behind the walk.
    std::string forms;
    for (int i = 0; forms.size() < kSize / 2 - 200; ++i)
        forms.append("&").append(i % 97, ' ').append("lt").append(i / 97, ' ').append(";x");
    std::string out = "&amp;" + forms + forms;
    out.resize(kSize, ' ');
    return out;
}

struct SHostile {
    const char* name;
    const char* operation;
    std::function<std::string()> make;
};

const std::vector<SHostile>& Hostiles()
{
    static const std::vector<SHostile> hostiles = {
        {"base64_long_block", "DecodeBase64",
         [] { return Repeat("X: base64\r\n\r\n", "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=\r\n", "=="); }},
        {"base64_no_end", "DecodeBase64", [] { return Repeat(": base64\r\n\r\n", "\r\r\nQ"); }},
        {"base64_markers", "DecodeBase64", [] { return Repeat("", ": base64\n\n"); }},
        {"8bit_amp_hash_run", "Decode8Bit", [] { return Repeat(": 8bit", "&#"); }},
        {"8bit_many_refs", "Decode8Bit", [] { return Repeat(": 7bit", "&#65;&#0;"); }},
        {"8bit_far_semicolon", "Decode8Bit", [] { return Repeat(": 8bit", "&#1", ";"); }},
        {"qp_escapes", "DecodeQuotedPrintable", [] { return Repeat("charset=iso-8859-1", "=41%42=\r\n"); }},
        {"qp_blanks_after_equals", "DecodeQuotedPrintable",
         [] { return Repeat("charset=iso-8859-1=", " ", "41"); }},
        {"qp_equals_run", "DecodeQuotedPrintable", [] { return Repeat("charset=iso-8859-1", "= %"); }},
        {"words_fragments", "DecodeHeaderWords", [] { return Repeat("", "=?"); }},
        {"words_near_misses", "DecodeHeaderWords", [] { return Repeat("", "=?x=?x"); }},
        {"words_long_fields", "DecodeHeaderWords",
         [] { return Repeat("", "=?" + std::string(127, 'c') + "?" + std::string(31, 'q') + "?" + std::string(120, 't')); }},
        {"words_valid", "DecodeHeaderWords", [] { return Repeat("", "=?iso-8859-1?Q?caf=E9?= "); }},
        {"words_base64", "DecodeHeaderWords",
         [] { return Repeat("", "=?utf-8?B?" + std::string(100, 'Q') + "?=\t"); }},
        {"entities_spaced_forms", "DecodeEntities", SpacedEntities},
        {"entities_spaced_copies", "DecodeEntities", SpacedEntitiesWithCopies},
        {"entities_amp_far_from_semicolon", "DecodeEntities", [] { return Repeat("", "&", ";"); }},
        {"entities_blanks_after_amp", "DecodeEntities", [] { return Repeat("", "& ", ";"); }},
        {"entities_amp_hash_run", "DecodeEntities", [] { return Repeat("", "&#", ";"); }},
        {"entities_many_same", "DecodeEntities", [] { return Repeat("", "&amp;lt;"); }},
        {"entities_reforming", "DecodeEntities", [] { return Repeat("", "&l&nbsp;t;&lt&semi;"); }},
        {"entities_random", "DecodeEntities", [] { return RandomOf("&&;  altmpsi", 7); }},
        {"lookalikes_random", "ConvertLookAlikes", [] { return RandomOf(std::string("0@\xE9\xC7" "abc"), 8); }},
        {"find_periodic", "FindNoCase", [] { return Repeat("", "a"); }},
        {"fontspans_open_no_close", "RemoveFontSpans",
         [] { return Repeat("Status:", "<font style=\"font-size:1px\">x"); }},
        {"fontspans_many_spans", "RemoveFontSpans",
         [] { return Repeat("Status:", "<font style=\"font-size:1px\">x</font>y"); }},
        {"fontspans_brackets", "RemoveFontSpans", [] { return RandomOf("<<>>fontFONT-size1/ ", 9); }},
        {"strip_open_no_close", "StripHtml", [] { return Repeat("Status:", "<font style=\"font-size:1px\">x"); }},
        {"strip_tags", "StripHtml", [] { return Repeat("Status:", "<b>x</b>"); }},
        {"strip_lt_run", "StripHtml", [] { return Repeat("Status:", "<", ">"); }},
        {"strip_gt_run", "StripHtml", [] { return Repeat("Status:", ">", "<"); }},
        {"squeeze_char_blanks", "SqueezeChar", [] { return Repeat("", " "); }},
        {"squeeze_repeats_mixed", "SqueezeRepeats", [] { return RandomOf("aab", 10); }},
    };
    return hostiles;
}

void Hostile(benchmark::State& state, const SHostile& hostile)
{
    const std::string text = hostile.make();
    const Operation* op = nullptr;
    for (const auto& [name, operation] : Operations())
        if (std::string_view(name) == hostile.operation)
            op = &operation;
    for (auto _ : state)
        benchmark::DoNotOptimize((*op)(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

const bool kRegistered = [] {
    for (const auto& [name, op] : Operations())
        benchmark::RegisterBenchmark((std::string("corpus/") + name).c_str(), Corpus, op)
            ->Unit(benchmark::kMillisecond);
    for (const auto& hostile : Hostiles())
        benchmark::RegisterBenchmark((std::string("hostile/") + hostile.operation + "/" + hostile.name).c_str(),
                                     Hostile, hostile)
            ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
