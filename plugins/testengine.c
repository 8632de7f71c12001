/*
 * testengine: a second-version plug-in for the tests, whose answers its
 * options decide ("testengine.<key>=<value>" in Orvelane.ini):
 *   Verdict    ham, spam, unsure or none (not judged); default ham
 *   Word       when given, the verdict applies only to texts holding it
 *              (the others are ham)
 *   Score, Threshold, Reason   what the verdict carries
 *   SleepMs    how long a check takes
 *   Log        a line written to the activity log during each check
 *   OpenError  when given, the instance cannot be opened, for this reason
 *   Learn      what learning answers: 1, 0 or -1 (default 1)
 *   Record     a file each learned text is appended to, after a line
 *              "--- spam <length>" (or ham), so a test sees what was taught
 */
#include "orvelane/plugin.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#define EXPORT __attribute__((visibility("default")))

typedef struct {
    int verdict;
    char word[128];
    double score, threshold;
    char reason[ORVELANE_REASON_SIZE];
    long sleepMs;
    char log[256];
    int learn;
    char record[1024];
    OrvelaneWindow* window;
    uint32_t setLog;
} Engine;

static const char* option(const OrvelaneConfig* config, const char* key)
{
    uint32_t i;
    for (i = 0; i < config->optionCount; ++i)
        if (strcasecmp(config->options[i].key, key) == 0)
            return config->options[i].value;
    return NULL;
}

static void copy(char* to, size_t size, const char* from)
{
    snprintf(to, size, "%s", from ? from : "");
}

EXPORT void* OrvelaneOpen(const OrvelaneConfig* config, char* error, uint32_t errorSize)
{
    const char* value;
    Engine* engine;
    if ((value = option(config, "OpenError")) != NULL) {
        copy(error, errorSize, value);
        return NULL;
    }
    engine = calloc(1, sizeof *engine);
    if (!engine)
        return NULL;
    value = option(config, "Verdict");
    engine->verdict = !value || !strcmp(value, "ham") ? ORVELANE_HAM
                      : !strcmp(value, "spam")        ? ORVELANE_SPAM
                      : !strcmp(value, "unsure")      ? ORVELANE_UNSURE
                                                      : ORVELANE_NOT_JUDGED;
    copy(engine->word, sizeof engine->word, option(config, "Word"));
    engine->score = (value = option(config, "Score")) ? atof(value) : 0;
    engine->threshold = (value = option(config, "Threshold")) ? atof(value) : 0;
    copy(engine->reason, sizeof engine->reason, option(config, "Reason"));
    engine->sleepMs = (value = option(config, "SleepMs")) ? atol(value) : 0;
    copy(engine->log, sizeof engine->log, option(config, "Log"));
    engine->learn = (value = option(config, "Learn")) ? atoi(value) : 1;
    copy(engine->record, sizeof engine->record, option(config, "Record"));
    engine->window = config->window;
    engine->setLog = config->setLogMessage;
    return engine;
}

EXPORT void OrvelaneCheck(void* instance, const char* text, uint32_t length, OrvelaneVerdict* verdict)
{
    const Engine* engine = instance;
    (void)length;
    if (engine->sleepMs > 0) {
        struct timespec pause = {engine->sleepMs / 1000, (engine->sleepMs % 1000) * 1000000L};
        nanosleep(&pause, NULL);
    }
    if (engine->log[0] && engine->window) {
        char line[300];
        snprintf(line, sizeof line, "%s\r\n", engine->log);
        engine->window->SendMessage(engine->window, engine->setLog, 0, (intptr_t)line);
    }
    verdict->verdict = engine->word[0] && !strstr(text, engine->word) ? ORVELANE_HAM : engine->verdict;
    verdict->hasScore = engine->score != 0 || engine->threshold != 0;
    verdict->score = engine->score;
    verdict->threshold = engine->threshold;
    copy(verdict->reason, sizeof verdict->reason, engine->reason);
}

EXPORT int32_t OrvelaneLearn(void* instance, const char* text, uint32_t length, int32_t spam, char* result,
                             uint32_t resultSize)
{
    static pthread_mutex_t recording = PTHREAD_MUTEX_INITIALIZER;
    const Engine* engine = instance;
    if (engine->record[0]) {
        FILE* file;
        pthread_mutex_lock(&recording);
        if ((file = fopen(engine->record, "ab")) != NULL) {
            fprintf(file, "--- %s %u\n", spam ? "spam" : "ham", length);
            fwrite(text, 1, length, file);
            fclose(file);
        }
        pthread_mutex_unlock(&recording);
    }
    snprintf(result, resultSize, "%s %u bytes", spam ? "spam" : "ham", length);
    return engine->learn;
}

EXPORT void OrvelaneClose(void* instance)
{
    free(instance);
}
