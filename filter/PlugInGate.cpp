#include "filter/PlugInGate.h"

#include "base/Win1252.h"
#include "decode/HeaderExtraction.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"
#include "filter/PrepareWorker.h"
#include "filter/RuleCache.h"
#include "filter/RuleMatcher.h"

bool StartsWithTag(const std::string& subject)
{
    const size_t first = subject.find_first_not_of(" \t");
    return first != std::string::npos && subject.compare(first, 6, "_SPAM_") == 0;
}

bool BuiltInsDecideAhead(const SPreparedAnalysis& prepared, const CCompiledRuleFile& rules)
{
    const CHeaderFields& fields = prepared.fields;
    const SRuleLists& lists = rules.Lists();
    const std::string from = w1252::Upper(fields.m_strFrom);
    const std::string subject = w1252::Upper(fields.m_strSubject);
    if (rules.HeaderMatches(kRuleTrust, false, from) || StartsWithTag(subject))
        return true;
    if ((lists.nbrTo != -1 && RecipientCount(fields.m_strTo) >= lists.nbrTo) ||
        (lists.nbrCc != -1 && RecipientCount(fields.m_strCc) >= lists.nbrCc))
        return true;
    const std::pair<ERuleList, const std::string*> headerSteps[] = {
        {kRuleRelay, &fields.m_strRelays}, {kRuleFrom, &fields.m_strFrom}, {kRuleRetPath, &fields.m_strReturnPath},
        {kRuleTo, &fields.m_strTo},        {kRuleCc, &fields.m_strCc},     {kRuleSubject, &fields.m_strSubject},
    };
    for (const auto& [list, text] : headerSteps)
        if (rules.HeaderMatches(list, false, w1252::Upper(*text)))
            return true;
    // The Subject with look-alikes converted, then with repeats squeezed,
    // each without separators.
    CMailDecoder decoder;
    std::string converted = subject;
    decoder.ConvertLookAlikes(converted);
    std::string squeezed = CTextTools().SqueezeRepeats(subject);
    for (std::string* text : {&converted, &squeezed}) {
        RemoveSeparatorsInPlace(*text, true);
        if (rules.HeaderMatches(kRuleSubject, true, *text))
            return true;
    }
    return prepared.body.position != -1;
}
