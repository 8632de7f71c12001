/*
 * rulecheck: an Orvelane analysis plug-in that judges a message spam when one
 * of the BODY rules it is handed occurs in the prepared text (compared without
 * regard to ASCII case). It reports every call through "Set Log".
 *
 * Built three ways from this file:
 *   rulecheck.so          exports Analyse and Level
 *   rulecheck_nolevel.so  exports Analyse only (RULECHECK_NO_LEVEL)
 *   rulecheck_inert.so    exports Level only (RULECHECK_NO_ANALYSE): not a plug-in
 *
 * Environment, read at every call:
 *   RULECHECK_LEVEL  the preparation bits Level returns (default 0)
 *   RULECHECK_DUMP   a file the prepared text and the other arguments are written to
 *   RULECHECK_CLEAN  the answer for "not spam" (default 256: low 8 bits zero)
 */
#include "orvelane/plugin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(__GNUC__)
#define RULECHECK_EXPORT __attribute__((visibility("default")))
#else
#define RULECHECK_EXPORT
#endif

#ifndef RULECHECK_NO_ANALYSE
static int lower(int c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

/* Whether `needle` (length n) occurs in `text`, ASCII letters in any case. */
static int contains(const char* text, const char* needle, size_t n)
{
    size_t i, j;
    if (n == 0)
        return 0;
    for (i = 0; text[i]; ++i) {
        for (j = 0; j < n && text[i + j] && lower((unsigned char)text[i + j]) == lower((unsigned char)needle[j]); ++j)
            ;
        if (j == n)
            return 1;
    }
    return 0;
}

static void log_line(OrvelaneWindow* window, uint32_t setLog, const char* text)
{
    if (window && window->SendMessage)
        window->SendMessage(window, setLog, 0, (intptr_t)text);
}

RULECHECK_EXPORT int32_t Analyse(const char* text, const char* rules, const char* server,
                                 const char* user, OrvelaneWindow* window, uint32_t setLogMessage)
{
    const char* dump = getenv("RULECHECK_DUMP");
    const char* clean = getenv("RULECHECK_CLEAN");
    const char* rule = rules;
    char line[512];
    int32_t answer = clean ? (int32_t)atoi(clean) : 256;

    if (dump) {
        FILE* f = fopen(dump, "wb");
        if (f) {
            fprintf(f, "server=%s\nuser=%s\nrules=%s\ntext=%s", server, user, rules, text);
            fclose(f);
        }
    }
    while (rule && *rule) {
        const char* bar = strchr(rule, '|');
        size_t n = bar ? (size_t)(bar - rule) : strlen(rule);
        if (contains(text, rule, n)) {
            snprintf(line, sizeof line, "rulecheck: %.*s\r\n", (int)(n > 200 ? 200 : n), rule);
            log_line(window, setLogMessage, line);
            answer = 1;
            break;
        }
        rule = bar ? bar + 1 : NULL;
    }
    if (answer != 1)
        log_line(window, setLogMessage, "rulecheck: clean\r\n");
    return answer;
}
#endif

#ifndef RULECHECK_NO_LEVEL
RULECHECK_EXPORT int32_t Level(void)
{
    const char* level = getenv("RULECHECK_LEVEL");
    return level ? (int32_t)strtol(level, NULL, 0) : 0;
}
#endif
