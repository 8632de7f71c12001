/*
 * bogofilter: runs the bogofilter program on each message (on its standard
 * input, no shell): -T to judge ("S 0.9999", exit status 0 spam, 1 ham,
 * 2 unsure, 3 error), -s and -n to learn. One process per call.
 *
 * Options (bogofilter.<key>=<value> in Orvelane.ini):
 *   Program    /usr/bin/bogofilter
 *   WordList   the word list's folder, passed with -d (default: "bogofilter"
 *              in the folder of Orvelane.ini, created when missing)
 *   Threshold  the spamicity from which a message is spam (default
 *              BOGOFILTER_THRESHOLD, measured: see below)
 *   Unsure     the spamicity from which a message is unsure (default: none)
 *   MinDev     how far from 0.5 a word's spamicity must be to count, passed
 *              to bogofilter as its min_dev when judging (default
 *              BOGOFILTER_MIN_DEV, measured: see below)
 *   MaxSize    bytes handed over at most (default 20 MB); a bigger message is
 *              not judged
 */
#include "bridge.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define BOGOFILTER_MAX_OUTPUT 4096
/* Trained on a quarter of the public corpus and scored on another (both from
 * the training half of bench/accuracy.py), bogofilter's own spam_cutoff of
 * 0.99 caught 66 % of the spam; messages with strong words both ways sit at
 * 0.5 exactly, ham among them. Just above 0.5: 90.8 % caught, 0.09 % of ham
 * tagged; but a message of words the list has not seen scores bogofilter's
 * robx, 0.52, so with a young word list everything new would be spam. Just
 * above 0.52: 83.2 % caught, 0.09 % of ham tagged. An unsure band chosen the
 * same way (1 % of ham) fell on the spam cutoff: none by default. */
#define BOGOFILTER_THRESHOLD 0.521
/* bogofilter's own min_dev, 0.375, leaves out every word between 0.125 and
 * 0.875, so most spam written in ordinary words scores near 0.5. Measured the
 * same way (a quarter taught, the other scored, then the two swapped), with
 * the cutoff above: 0.375 caught 83.2-88.3 % of spam, 0.2 89.6-90.6 %, 0.12
 * 92.0-92.7 %, 0.08 92.4-93.2 % but with 0.19-0.28 % of ham tagged where 0.12
 * kept 0.09-0.10 %. */
#define BOGOFILTER_MIN_DEV 0.12

typedef struct Bogofilter {
    Bridge bridge;
    char program[512];
    char wordList[1024];
    BridgeBand band;
    char minDev[32];
    uint64_t maxSize;
} Bogofilter;

BRIDGE_EXPORT void* OrvelaneOpen(const OrvelaneConfig* config, char* error, uint32_t errorSize)
{
    static const char* const known[] = {"Program", "WordList", "Threshold", "Unsure", "MinDev",
                                        "MaxSize", NULL};
    Bogofilter* g = calloc(1, sizeof *g);
    const char* value;
    double minDev = BOGOFILTER_MIN_DEV;
    int n;
    if (!g) {
        if (error && errorSize)
            snprintf(error, errorSize, "m\xe9moire insuffisante" /* mémoire */);
        return NULL;
    }
    if (bridge_init(&g->bridge, "bogofilter", config, known, error, errorSize) < 0)
        goto fail;
    value = bridge_option(config, "Program");
    if (!value)
        value = "/usr/bin/bogofilter";
    if (value[0] != '/' || strlen(value) >= sizeof g->program) {
        bridge_open_failed(&g->bridge, error, errorSize,
                           "Program doit \xea" "tre un chemin absolu : %.200s" /* être */, value);
        goto fail;
    }
    if (access(value, X_OK) != 0) {
        bridge_open_failed(&g->bridge, error, errorSize, "programme %.200s inutilisable (%s)", value,
                           bridge_error_text(errno));
        goto fail;
    }
    memcpy(g->program, value, strlen(value) + 1);
    value = bridge_option(config, "WordList");
    if (value)
        n = snprintf(g->wordList, sizeof g->wordList, "%s", value);
    else
        n = snprintf(g->wordList, sizeof g->wordList, "%s/bogofilter",
                     config->configFolder ? config->configFolder : ".");
    if (n < 0 || (size_t)n >= sizeof g->wordList) {
        bridge_open_failed(&g->bridge, error, errorSize, "chemin de WordList trop long");
        goto fail;
    }
    if (mkdir(g->wordList, 0700) != 0 && errno != EEXIST) {
        bridge_open_failed(&g->bridge, error, errorSize, "dossier %.200s impossible \xe0 cr\xe9"
                           "er (%s)" /* impossible à créer */, g->wordList, bridge_error_text(errno));
        goto fail;
    }
    if (bridge_band(&g->bridge, config, &g->band, error, errorSize) < 0)
        goto fail;
    g->maxSize = 20 * 1024 * 1024;
    if (bridge_option_size(config, "MaxSize", UINT32_MAX, &g->maxSize) < 0) {
        bridge_open_failed(&g->bridge, error, errorSize, "MaxSize n'est pas un nombre d'octets");
        goto fail;
    }
    n = bridge_option_number(config, "MinDev", &minDev);
    if (n < 0 || minDev <= 0 || minDev >= 0.5) {
        bridge_open_failed(&g->bridge, error, errorSize,
                           "MinDev doit \xea" "tre un nombre entre 0 et 0,5 exclus" /* être */);
        goto fail;
    }
    bridge_format_number(g->minDev, sizeof g->minDev, minDev, 6);
    if (!g->band.hasThreshold) {
        g->band.hasThreshold = 1;
        g->band.threshold = BOGOFILTER_THRESHOLD;
    }
    return g;
fail:
    free(g);
    return NULL;
}

BRIDGE_EXPORT void OrvelaneClose(void* instance)
{
    free(instance);
}

/* Whether the word list has been written yet. */
static int has_word_list(const Bogofilter* g)
{
    char path[1100];
    struct stat st;
    snprintf(path, sizeof path, "%s/wordlist.db", g->wordList);
    return stat(path, &st) == 0 && st.st_size > 0;
}

/* Runs the program with `option`; 0 with the exit status, or -1 with the
 * reason and the log line filled. */
static int run(const Bogofilter* g, const char* option, const char* text, uint32_t length,
               int64_t deadline, BridgeBuffer* out, int* status, char* reason, size_t reasonSize,
               char* line, size_t lineSize)
{
    /* min_dev only matters when judging; -m takes it alone. */
    const char* argv[] = {g->program, option, "-d", g->wordList, "-m", g->minDev, NULL};
    if (strcmp(option, "-T") != 0)
        argv[4] = NULL;
    char err[200];
    if (length > g->maxSize) {
        snprintf(reason, reasonSize, "trop gros (%u octets)", length);
        snprintf(line, lineSize, "message de %u octets non transmis (MaxSize=%llu)", length,
                 (unsigned long long)g->maxSize);
        return -1;
    }
    if (bridge_run(argv, text, length, out, BOGOFILTER_MAX_OUTPUT, err, sizeof err, deadline,
                   status) < 0) {
        const int e = errno;
        snprintf(reason, reasonSize, "%s", bridge_error_text(e));
        if (e == ETIMEDOUT)
            snprintf(line, lineSize, "%.200s n'a pas fini en %u ms", g->program, g->bridge.budgetMs);
        else if (e == EMSGSIZE)
            snprintf(line, lineSize, "sortie de %.200s trop longue (plus de %u octets)", g->program,
                     BOGOFILTER_MAX_OUTPUT);
        else if (e == EINTR)
            snprintf(line, lineSize, "%.200s arr\xea" "t\xe9 par le signal %d" /* arrêté */,
                     g->program, *status - 128);
        else
            snprintf(line, lineSize, "%.200s impossible \xe0 lancer (%s)" /* à */, g->program,
                     bridge_error_text(e));
        return -1;
    }
    if (*status == 3 || *status > 3) {
        if (!has_word_list(g)) {
            snprintf(reason, reasonSize, "liste de mots vide");
            snprintf(line, lineSize, "liste de mots vide dans %.200s : apprenez-lui d'abord du spam et "
                     "du courrier l\xe9gitime" /* légitime */, g->wordList);
        } else {
            snprintf(reason, reasonSize, "erreur %d", *status);
            snprintf(line, lineSize, "erreur %d de %.200s%s%.100s", *status, g->program, err[0] ? " : " : "",
                     err);
        }
        return -1;
    }
    return 0;
}

BRIDGE_EXPORT void OrvelaneCheck(void* instance, const char* text, uint32_t length,
                                 OrvelaneVerdict* verdict)
{
    const Bogofilter* g = instance;
    BridgeBuffer out = {0};
    char reason[100], line[400];
    int status = 0;
    int32_t engine;
    double spamicity;
    const char* p;
    const char* end;
    static const char letters[] = "SHU";
    static const int32_t verdicts[] = {ORVELANE_SPAM, ORVELANE_HAM, ORVELANE_UNSURE};

    if (!g || !bridge_verdict_usable(verdict))
        return;
    if (run(g, "-T", text, length, bridge_deadline(&g->bridge), &out, &status, reason,
            sizeof reason, line, sizeof line) < 0) {
        bridge_not_judged(&g->bridge, verdict, reason, "%s", line);
        goto done;
    }
    /* One line: its classification letter, a space, the spamicity; the letter
     * must agree with the exit status. */
    p = out.data;
    end = out.data + out.size;
    while (end > p && (end[-1] == '\n' || end[-1] == '\r'))
        --end;
    if (end - p < 3 || p[0] != letters[status] || p[1] != ' ' ||
        bridge_parse_number(p + 2, end, &spamicity) != end || spamicity < 0 || spamicity > 1) {
        char shown[80];
        bridge_copy(shown, sizeof shown, out.data, out.size);
        bridge_not_judged(&g->bridge, verdict, "r\xe9ponse illisible" /* réponse */,
                          "sortie illisible de %.200s (statut %d) : \xab %s \xbb", g->program, status,
                          shown);
        goto done;
    }
    engine = verdicts[status];
    verdict->verdict = bridge_decide(&g->band, engine, spamicity);
    verdict->hasScore = 1;
    verdict->score = spamicity;
    verdict->threshold = g->band.threshold;
    /* Cut, not rounded: 0.99996 must not read as a certain 1. */
    bridge_format_number(verdict->reason, sizeof verdict->reason,
                         (double)(long long)(spamicity * 10000) / 10000, 4);
done:
    bridge_buffer_free(&out);
}

/* Learning writes the word list: one bogofilter at a time (two that create
 * it at once make one fail), whichever instance or process runs it. The lock
 * is a file beside the word list, waited for until the deadline. Its
 * descriptor, or -1 with errno. */
static int lock_word_list(const Bogofilter* g, int64_t deadline)
{
    char path[1100];
    int fd;
    snprintf(path, sizeof path, "%s/.orvelane-learn.lock", g->wordList);
    fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || bridge_now_ms() >= deadline) {
            const int e = errno == EWOULDBLOCK ? ETIMEDOUT : errno;
            close(fd);
            errno = e;
            return -1;
        }
        nanosleep(&(struct timespec){0, 2000000}, NULL);
    }
    return fd;
}

BRIDGE_EXPORT int32_t OrvelaneLearn(void* instance, const char* text, uint32_t length,
                                    int32_t spam, char* result, uint32_t resultSize)
{
    const Bogofilter* g = instance;
    BridgeBuffer out = {0};
    char reason[100], line[400];
    int status = 0;
    int32_t learned = ORVELANE_LEARNED;
    const char* kind = spam ? "spam" : "ham";

    int64_t deadline;
    int lock;

    if (!g)
        return ORVELANE_LEARN_FAILED;
    deadline = bridge_deadline(&g->bridge);
    lock = lock_word_list(g, deadline);
    if (lock < 0) {
        snprintf(line, sizeof line, "liste de mots %.200s occup\xe9" "e (%s)" /* occupée */,
                 g->wordList, bridge_error_text(errno));
        learned = ORVELANE_LEARN_FAILED;
    } else if (run(g, spam ? "-s" : "-n", text, length, deadline, &out, &status, reason,
                   sizeof reason, line, sizeof line) < 0) {
        learned = ORVELANE_LEARN_FAILED;
    } else if (status != 0) {
        snprintf(line, sizeof line, "%.200s a fini avec le statut %d", g->program, status);
        learned = ORVELANE_LEARN_FAILED;
    } else {
        snprintf(line, sizeof line, "bogofilter a appris ce message comme %s", kind);
    }
    if (lock >= 0)
        close(lock); /* which unlocks */
    if (learned == ORVELANE_LEARN_FAILED)
        bridge_log(&g->bridge, "apprentissage impossible : %s", line);
    if (result && resultSize)
        bridge_copy(result, resultSize, line, strlen(line));
    bridge_buffer_free(&out);
    return learned;
}
