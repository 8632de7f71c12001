/*
 * spamd: asks a SpamAssassin daemon about each message over its own protocol
 * (SPAMC/1.5): SYMBOLS to judge, TELL to learn. One connection per call.
 *
 * Options (spamd.<key>=<value> in Orvelane.ini):
 *   Address    127.0.0.1:783; host:port, [v6]:port, or the path of a Unix socket
 *   User       the User: header spamd picks the user's preferences and Bayes by
 *   Threshold  the score from which a message is spam (default: spamd's own
 *              decision, its required score)
 *   Unsure     the score from which a message spamd finds ham is unsure
 *   MaxSize    bytes sent at most (512000); a bigger message is not judged
 */
#include "bridge.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define SPAMD_MAX_ANSWER 65536 /* a SYMBOLS or TELL answer is a few hundred bytes */

typedef struct Spamd {
    Bridge bridge;
    BridgeAddress address;
    char user[128];
    BridgeBand band;
    uint64_t maxSize;
} Spamd;

BRIDGE_EXPORT void* OrvelaneOpen(const OrvelaneConfig* config, char* error, uint32_t errorSize)
{
    static const char* const known[] = {"Address", "User", "Threshold", "Unsure", "MaxSize", NULL};
    Spamd* s = calloc(1, sizeof *s);
    const char* address;
    const char* user;
    char why[200];
    if (!s) {
        if (error && errorSize)
            snprintf(error, errorSize, "m\xe9moire insuffisante" /* mémoire */);
        return NULL;
    }
    if (bridge_init(&s->bridge, "spamd", config, known, error, errorSize) < 0)
        goto fail;
    address = bridge_option(config, "Address");
    if (bridge_address(&s->address, address ? address : "127.0.0.1:783", why, sizeof why) < 0) {
        bridge_open_failed(&s->bridge, error, errorSize, "%s", why);
        goto fail;
    }
    user = bridge_option(config, "User");
    if (user && strlen(user) >= sizeof s->user) {
        bridge_open_failed(&s->bridge, error, errorSize, "User trop long");
        goto fail;
    }
    if (user)
        bridge_copy(s->user, sizeof s->user, user, strlen(user));
    if (bridge_band(&s->bridge, config, &s->band, error, errorSize) < 0)
        goto fail;
    s->maxSize = 512000;
    if (bridge_option_size(config, "MaxSize", UINT32_MAX, &s->maxSize) < 0) {
        bridge_open_failed(&s->bridge, error, errorSize, "MaxSize n'est pas un nombre d'octets");
        goto fail;
    }
    return s;
fail:
    free(s);
    return NULL;
}

BRIDGE_EXPORT void OrvelaneClose(void* instance)
{
    free(instance);
}

/* spamd's answer, once read whole. */
typedef struct Answer {
    int complete;           /* the status line, the header and the body as announced */
    int code;               /* the status code: 0 is EX_OK */
    char status[160];       /* the status line's text after the code */
    int hasSpam;            /* a "Spam:" header */
    int isSpam;
    double score, required;
    int didLearn;           /* DidSet: or DidRemove: */
    const char* body;
    size_t bodySize;
} Answer;

static const char* line_end(const char* p, const char* end)
{
    const char* nl = memchr(p, '\n', (size_t)(end - p));
    return nl;
}

static int starts(const char* p, const char* end, const char* word)
{
    size_t n = strlen(word);
    return (size_t)(end - p) >= n && strncasecmp(p, word, n) == 0;
}

static const char* skip_spaces(const char* p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    return p;
}

/* 0 when the answer is spamd's (complete or not: see a->complete), -1 when
 * it is not. */
static int parse_answer(const char* data, size_t size, Answer* a)
{
    const char* p = data;
    const char* end = data + size;
    const char* nl = line_end(p, end);
    const char* q;
    long length = -1;

    memset(a, 0, sizeof *a);
    if (!nl) /* a cut status line is still spamd's when what came is its start */
        return (size <= 8 && strncmp(data, "SPAMD/1.", size) == 0) ||
                       (size > 8 && strncmp(data, "SPAMD/1.", 8) == 0)
                   ? 0
                   : -1;
    if (!starts(p, nl, "SPAMD/1."))
        return -1;
    q = p + 8;
    while (q < nl && *q >= '0' && *q <= '9')
        ++q;
    if (q == p + 8 || q >= nl || *q != ' ')
        return -1;
    q = skip_spaces(q, nl);
    if (q >= nl || *q < '0' || *q > '9')
        return -1;
    a->code = 0;
    while (q < nl && *q >= '0' && *q <= '9' && a->code < 1000)
        a->code = a->code * 10 + (*q++ - '0');
    q = skip_spaces(q, nl);
    bridge_copy(a->status, sizeof a->status, q, (size_t)(nl - q - (nl > q && nl[-1] == '\r')));
    if (a->code != 0) { /* an error is its status line alone */
        a->complete = 1;
        return 0;
    }
    for (p = nl + 1;;) {
        const char* stop;
        nl = line_end(p, end);
        if (!nl)
            return 0; /* the header was cut */
        stop = nl > p && nl[-1] == '\r' ? nl - 1 : nl;
        if (stop == p) {
            p = nl + 1;
            break;
        }
        if (starts(p, stop, "Content-length:")) {
            const char* v = skip_spaces(p + 15, stop);
            length = 0;
            if (v == stop)
                return -1;
            for (; v < stop; ++v) {
                if (*v < '0' || *v > '9' || length > SPAMD_MAX_ANSWER)
                    return -1;
                length = length * 10 + (*v - '0');
            }
        } else if (starts(p, stop, "Spam:")) {
            /* Spam: True ; 7.3 / 5.0 */
            const char* v = skip_spaces(p + 5, stop);
            if (starts(v, stop, "True") || starts(v, stop, "Yes"))
                a->isSpam = 1;
            else if (!starts(v, stop, "False") && !starts(v, stop, "No"))
                return -1;
            v = memchr(v, ';', (size_t)(stop - v));
            if (!v)
                return -1;
            v = bridge_parse_number(skip_spaces(v + 1, stop), stop, &a->score);
            if (!v)
                return -1;
            v = skip_spaces(v, stop);
            if (v >= stop || *v != '/')
                return -1;
            v = bridge_parse_number(skip_spaces(v + 1, stop), stop, &a->required);
            if (!v || skip_spaces(v, stop) != stop)
                return -1;
            a->hasSpam = 1;
        } else if (starts(p, stop, "DidSet:") || starts(p, stop, "DidRemove:")) {
            a->didLearn = 1;
        }
        p = nl + 1;
    }
    a->body = p;
    a->bodySize = (size_t)(end - p);
    if (length >= 0) {
        if (a->bodySize < (size_t)length)
            return 0; /* the body was cut */
        if (a->bodySize > (size_t)length)
            return -1;
    }
    a->complete = 1;
    return 0;
}

/* Sends `command` with the message and reads the whole answer. 0, or -1 with
 * the reason filled and logged through `fail`. */
typedef struct Call {
    const Spamd* s;
    const char* verb; /* for the log: "analyse", "apprentissage" */
    char reason[100];
    char line[400];
} Call;

static int ask(Call* c, const char* command, const char* extra, const char* text, uint32_t length,
               BridgeBuffer* answer, Answer* a)
{
    const Spamd* s = c->s;
    const int64_t deadline = bridge_deadline(&s->bridge);
    char head[512];
    int n, fd;
    BridgeChunk chunks[2];

    if (length > s->maxSize) {
        snprintf(c->reason, sizeof c->reason, "trop gros (%u octets)", length);
        snprintf(c->line, sizeof c->line,
                 "message de %u octets non transmis (MaxSize=%llu)", length,
                 (unsigned long long)s->maxSize);
        return -1;
    }
    n = snprintf(head, sizeof head, "%s SPAMC/1.5\r\n%sContent-length: %u\r\n%s%s%s\r\n", command,
                 extra, length, s->user[0] ? "User: " : "", s->user, s->user[0] ? "\r\n" : "");
    fd = bridge_connect(&s->address, deadline);
    if (fd < 0) {
        snprintf(c->reason, sizeof c->reason, "injoignable (%s)", bridge_error_text(errno));
        snprintf(c->line, sizeof c->line, "moteur injoignable %s (%s)", s->address.text,
                 bridge_error_text(errno));
        return -1;
    }
    chunks[0].data = head;
    chunks[0].size = (size_t)n;
    chunks[1].data = text;
    chunks[1].size = length;
    n = bridge_exchange(fd, chunks, 2, 1, answer, SPAMD_MAX_ANSWER, deadline);
    close(fd);
    if (n < 0) {
        const int e = errno;
        snprintf(c->reason, sizeof c->reason, "%s", bridge_error_text(e));
        if (e == ETIMEDOUT)
            snprintf(c->line, sizeof c->line, "pas de r\xe9ponse compl\xe8te de %s en %u ms"
                     /* pas de réponse complète */, s->address.text, s->bridge.budgetMs);
        else if (e == EMSGSIZE)
            snprintf(c->line, sizeof c->line, "r\xe9ponse de %s trop longue (plus de %u octets)"
                     /* réponse */, s->address.text, SPAMD_MAX_ANSWER);
        else
            snprintf(c->line, sizeof c->line, "%s : %s pendant l'%s", s->address.text,
                     bridge_error_text(e), c->verb);
        return -1;
    }
    if (parse_answer(answer->data, answer->size, a) < 0) {
        char shown[80];
        bridge_copy(shown, sizeof shown, answer->data, answer->size);
        snprintf(c->reason, sizeof c->reason, "r\xe9ponse illisible" /* réponse */);
        snprintf(c->line, sizeof c->line, "r\xe9ponse illisible de %s : \xab %s \xbb"
                 /* réponse illisible de ... : « ... » */, s->address.text, shown);
        return -1;
    }
    if (!a->complete) {
        snprintf(c->reason, sizeof c->reason, "r\xe9ponse incompl\xe8te" /* réponse incomplète */);
        snprintf(c->line, sizeof c->line, "r\xe9ponse incompl\xe8te de %s (%zu octets)"
                 /* réponse incomplète */, s->address.text, answer->size);
        return -1;
    }
    if (a->code != 0) {
        snprintf(c->reason, sizeof c->reason, "erreur %d : %.60s", a->code, a->status);
        snprintf(c->line, sizeof c->line, "erreur du moteur : %d %s", a->code, a->status);
        return -1;
    }
    return 0;
}

BRIDGE_EXPORT void OrvelaneCheck(void* instance, const char* text, uint32_t length,
                                 OrvelaneVerdict* verdict)
{
    const Spamd* s = instance;
    Call c = {s, "analyse", "", ""};
    BridgeBuffer answer = {0};
    Answer a;
    const char* p;
    const char* end;
    int32_t engine;

    if (!s || !bridge_verdict_usable(verdict))
        return;
    if (ask(&c, "SYMBOLS", "", text, length, &answer, &a) < 0) {
        bridge_not_judged(&s->bridge, verdict, c.reason, "%s", c.line);
        goto done;
    }
    if (!a.hasSpam) {
        bridge_not_judged(&s->bridge, verdict, "r\xe9ponse sans score" /* réponse */,
                          "r\xe9ponse de %s sans ligne Spam:" /* réponse */, s->address.text);
        goto done;
    }
    engine = a.isSpam ? ORVELANE_SPAM : ORVELANE_HAM;
    verdict->verdict = bridge_decide(&s->band, engine, a.score);
    verdict->hasScore = 1;
    verdict->score = a.score;
    verdict->threshold = s->band.hasThreshold ? s->band.threshold : a.required;
    verdict->reason[0] = 0;
    /* The body is the rule names, comma-separated, on one line. */
    p = a.body;
    end = a.body + a.bodySize;
    while (end > p && (end[-1] == '\r' || end[-1] == '\n'))
        --end;
    while (p < end) {
        const char* comma = memchr(p, ',', (size_t)(end - p));
        const char* stop = comma ? comma : end;
        if (!bridge_list_add(verdict->reason, sizeof verdict->reason, p, (size_t)(stop - p)))
            break;
        p = comma ? comma + 1 : end;
    }
done:
    bridge_buffer_free(&answer);
}

BRIDGE_EXPORT int32_t OrvelaneLearn(void* instance, const char* text, uint32_t length,
                                    int32_t spam, char* result, uint32_t resultSize)
{
    const Spamd* s = instance;
    Call c = {s, "apprentissage", "", ""};
    BridgeBuffer answer = {0};
    Answer a;
    const char* kind = spam ? "spam" : "ham";
    char extra[64];
    int32_t learned;
    char shown[200];

    if (!s)
        return ORVELANE_LEARN_FAILED;
    snprintf(extra, sizeof extra, "Message-class: %s\r\nSet: local\r\n", kind);
    if (ask(&c, "TELL", extra, text, length, &answer, &a) < 0) {
        bridge_log(&s->bridge, "apprentissage impossible : %s", c.line);
        bridge_copy(shown, sizeof shown, c.line, strlen(c.line));
        learned = ORVELANE_LEARN_FAILED;
    } else if (a.didLearn) {
        snprintf(shown, sizeof shown, "spamd a appris ce message comme %s", kind);
        learned = ORVELANE_LEARNED;
    } else {
        snprintf(shown, sizeof shown,
                 "spamd n'a rien appris : ce message lui \xe9tait d\xe9j\xe0 connu comme %s"
                 /* était déjà connu */,
                 kind);
        learned = ORVELANE_LEARN_NOTHING;
    }
    if (result && resultSize)
        bridge_copy(result, resultSize, shown, strlen(shown));
    bridge_buffer_free(&answer);
    return learned;
}
