/*
 * rspamd: asks an rspamd worker about each message over its HTTP interface:
 * POST /checkv2 to judge, POST /learnspam or /learnham on the controller to
 * learn. One connection per call, HTTP/1.0, closed by rspamd after its answer.
 *
 * Options (rspamd.<key>=<value> in Orvelane.ini):
 *   Address            127.0.0.1:11333, the normal worker
 *   ControllerAddress  127.0.0.1:11334, the controller (learning)
 *   Password           sent as the Password: header
 *   Threshold          the score from which a message is spam (default: rspamd's
 *                      action: reject, add header, rewrite subject are spam,
 *                      greylist and soft reject unsure, no action ham)
 *   Unsure             the score from which a message is unsure
 *   MaxSize            bytes sent at most (default: 20 MB); a bigger message
 *                      is not judged
 */
#include "bridge.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define RSPAMD_MAX_ANSWER (1024 * 1024) /* symbols with their descriptions and options */
#define RSPAMD_MAX_SYMBOLS 64           /* kept for the reason; the rest is read past */
#define JSON_MAX_DEPTH 32

typedef struct Rspamd {
    Bridge bridge;
    BridgeAddress address;
    BridgeAddress controller;
    char password[128];
    BridgeBand band;
    uint64_t maxSize;
} Rspamd;

BRIDGE_EXPORT void* OrvelaneOpen(const OrvelaneConfig* config, char* error, uint32_t errorSize)
{
    static const char* const known[] = {"Address", "ControllerAddress", "Password", "Threshold",
                                        "Unsure",  "MaxSize",           NULL};
    Rspamd* r = calloc(1, sizeof *r);
    const char* value;
    char why[200];
    if (!r) {
        if (error && errorSize)
            snprintf(error, errorSize, "m\xe9moire insuffisante" /* mémoire */);
        return NULL;
    }
    if (bridge_init(&r->bridge, "rspamd", config, known, error, errorSize) < 0)
        goto fail;
    value = bridge_option(config, "Address");
    if (bridge_address(&r->address, value ? value : "127.0.0.1:11333", why, sizeof why) < 0) {
        bridge_open_failed(&r->bridge, error, errorSize, "Address : %s", why);
        goto fail;
    }
    value = bridge_option(config, "ControllerAddress");
    if (bridge_address(&r->controller, value ? value : "127.0.0.1:11334", why, sizeof why) < 0) {
        bridge_open_failed(&r->bridge, error, errorSize, "ControllerAddress : %s", why);
        goto fail;
    }
    value = bridge_option(config, "Password");
    if (value && strlen(value) >= sizeof r->password) {
        bridge_open_failed(&r->bridge, error, errorSize, "Password trop long");
        goto fail;
    }
    if (value)
        bridge_copy(r->password, sizeof r->password, value, strlen(value));
    if (bridge_band(&r->bridge, config, &r->band, error, errorSize) < 0)
        goto fail;
    r->maxSize = 20 * 1024 * 1024;
    if (bridge_option_size(config, "MaxSize", UINT32_MAX, &r->maxSize) < 0) {
        bridge_open_failed(&r->bridge, error, errorSize, "MaxSize n'est pas un nombre d'octets");
        goto fail;
    }
    return r;
fail:
    free(r);
    return NULL;
}

BRIDGE_EXPORT void OrvelaneClose(void* instance)
{
    free(instance);
}

/* ---- JSON: only what the answers need, bounded in depth ------------------ */

typedef struct Symbol {
    char name[64];
    double score;
} Symbol;

typedef struct Result {
    int hasScore, hasRequired, hasAction, hasSuccess, hasError;
    double score, required;
    char action[32];
    int success;
    char error[200];
    Symbol symbols[RSPAMD_MAX_SYMBOLS];
    int symbolCount;
} Result;

typedef struct Json {
    const char* p;
    const char* end;
} Json;

static void ws(Json* j)
{
    while (j->p < j->end && (*j->p == ' ' || *j->p == '\t' || *j->p == '\r' || *j->p == '\n'))
        ++j->p;
}

static int hex(int c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                         : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

/* A string into out (size bytes, cut to fit; null out to skip it): escapes
 * decoded, characters past ASCII as '?'. 0 or -1. */
static int string(Json* j, char* out, size_t size)
{
    size_t n = 0;
    ws(j);
    if (j->p >= j->end || *j->p != '"')
        return -1;
    for (++j->p; j->p < j->end; ++j->p) {
        int c = (unsigned char)*j->p;
        if (c == '"') {
            ++j->p;
            if (out && size)
                out[n] = 0;
            return 0;
        }
        if (c < 0x20)
            return -1;
        if (c == '\\') {
            if (++j->p >= j->end)
                return -1;
            switch (*j->p) {
            case '"': c = '"'; break;
            case '\\': c = '\\'; break;
            case '/': c = '/'; break;
            case 'b': case 'f': case 'n': case 'r': case 't': c = ' '; break;
            case 'u': {
                int k, v = 0;
                if (j->end - j->p < 5)
                    return -1;
                for (k = 1; k <= 4; ++k) {
                    int h = hex((unsigned char)j->p[k]);
                    if (h < 0)
                        return -1;
                    v = v * 16 + h;
                }
                j->p += 4;
                c = v >= 0x20 && v < 0x7f ? v : '?';
                break;
            }
            default: return -1;
            }
        } else if (c >= 0x80) {
            c = (c & 0xc0) == 0x80 ? 0 : '?'; /* one '?' per UTF-8 character */
        }
        if (c && out && n + 1 < size)
            out[n++] = (char)c;
    }
    return -1;
}

static int number(Json* j, double* value)
{
    const char* after;
    ws(j);
    after = bridge_parse_number(j->p, j->end, value);
    if (!after)
        return -1;
    j->p = after;
    return 0;
}

static int word(Json* j, const char* w)
{
    size_t n = strlen(w);
    if ((size_t)(j->end - j->p) < n || memcmp(j->p, w, n) != 0)
        return -1;
    j->p += n;
    return 0;
}

static int skip(Json* j, int depth);

/* Walks an object: calls `member` for each key (the value is next); a member
 * function that does not read the value leaves it to skip(). */
typedef int (*Member)(Json* j, const char* key, void* context, int depth);

static int object(Json* j, int depth, Member member, void* context)
{
    char key[64];
    ws(j);
    if (depth > JSON_MAX_DEPTH || j->p >= j->end || *j->p != '{')
        return -1;
    ++j->p;
    ws(j);
    if (j->p < j->end && *j->p == '}') {
        ++j->p;
        return 0;
    }
    for (;;) {
        const char* before;
        if (string(j, key, sizeof key) < 0)
            return -1;
        ws(j);
        if (j->p >= j->end || *j->p++ != ':')
            return -1;
        ws(j);
        before = j->p;
        if (member && member(j, key, context, depth) < 0)
            return -1;
        if (j->p == before && skip(j, depth + 1) < 0)
            return -1;
        ws(j);
        if (j->p >= j->end)
            return -1;
        if (*j->p == '}') {
            ++j->p;
            return 0;
        }
        if (*j->p++ != ',')
            return -1;
    }
}

static int skip(Json* j, int depth)
{
    double ignored;
    ws(j);
    if (depth > JSON_MAX_DEPTH || j->p >= j->end)
        return -1;
    switch (*j->p) {
    case '{': return object(j, depth, NULL, NULL);
    case '[':
        ++j->p;
        ws(j);
        if (j->p < j->end && *j->p == ']') {
            ++j->p;
            return 0;
        }
        for (;;) {
            if (skip(j, depth + 1) < 0)
                return -1;
            ws(j);
            if (j->p >= j->end)
                return -1;
            if (*j->p == ']') {
                ++j->p;
                return 0;
            }
            if (*j->p++ != ',')
                return -1;
        }
    case '"': return string(j, NULL, 0);
    case 't': return word(j, "true");
    case 'f': return word(j, "false");
    case 'n': return word(j, "null");
    default: return number(j, &ignored);
    }
}

static int symbol_member(Json* j, const char* key, void* context, int depth)
{
    (void)depth;
    if (strcmp(key, "score") == 0)
        return number(j, &((Symbol*)context)->score);
    return 0;
}

static int symbols_member(Json* j, const char* key, void* context, int depth)
{
    Result* r = context;
    Symbol scratch;
    Symbol* s = r->symbolCount < RSPAMD_MAX_SYMBOLS ? &r->symbols[r->symbolCount] : &scratch;
    memset(s, 0, sizeof *s);
    snprintf(s->name, sizeof s->name, "%s", key);
    if (object(j, depth + 1, symbol_member, s) < 0)
        return -1;
    if (s != &scratch)
        ++r->symbolCount;
    return 0;
}

static int result_member(Json* j, const char* key, void* context, int depth)
{
    Result* r = context;
    ws(j);
    if (strcmp(key, "score") == 0 && number(j, &r->score) == 0)
        return r->hasScore = 1, 0;
    if (strcmp(key, "required_score") == 0 && number(j, &r->required) == 0)
        return r->hasRequired = 1, 0;
    if (strcmp(key, "action") == 0)
        return r->hasAction = 1, string(j, r->action, sizeof r->action);
    if (strcmp(key, "error") == 0)
        return r->hasError = 1, string(j, r->error, sizeof r->error);
    if (strcmp(key, "success") == 0) {
        r->hasSuccess = 1;
        r->success = word(j, "true") == 0;
        return r->success || word(j, "false") == 0 ? 0 : -1;
    }
    if (strcmp(key, "symbols") == 0)
        return object(j, depth + 1, symbols_member, r);
    return 0;
}

/* 0 when `body` is one JSON object, with what it says in `r`. */
static int parse_result(const char* body, size_t size, Result* r)
{
    Json j = {body, body + size};
    memset(r, 0, sizeof *r);
    if (object(&j, 0, result_member, r) < 0)
        return -1;
    ws(&j);
    return j.p == j.end ? 0 : -1;
}

/* ---- HTTP ---------------------------------------------------------------- */

typedef struct Reply {
    int status;
    char phrase[200];
    const char* body;
    size_t bodySize;
} Reply;

enum { REPLY_OK, REPLY_GARBAGE, REPLY_CUT };

static int parse_reply(const char* data, size_t size, Reply* r)
{
    const char* end = data + size;
    const char* p = data;
    const char* nl = memchr(p, '\n', size);
    const char* head;
    long length = -1;
    int chunked = 0;

    memset(r, 0, sizeof *r);
    if (size < 12 || (memcmp(data, "HTTP/1.0 ", 9) != 0 && memcmp(data, "HTTP/1.1 ", 9) != 0))
        return size < 9 && memcmp(data, "HTTP/1.1 ", size) == 0 ? REPLY_CUT : REPLY_GARBAGE;
    if (!nl)
        return REPLY_CUT;
    if (data[9] < '1' || data[9] > '5' || data[10] < '0' || data[10] > '9' || data[11] < '0' ||
        data[11] > '9' || (nl > data + 12 && data[12] != ' ' && data[12] != '\r'))
        return REPLY_GARBAGE;
    r->status = (data[9] - '0') * 100 + (data[10] - '0') * 10 + (data[11] - '0');
    head = data + 12;
    while (head < nl && *head == ' ')
        ++head;
    bridge_copy(r->phrase, sizeof r->phrase, head, (size_t)(nl - head - (nl > head && nl[-1] == '\r')));
    for (p = nl + 1;;) {
        const char* stop;
        nl = memchr(p, '\n', (size_t)(end - p));
        if (!nl)
            return REPLY_CUT;
        stop = nl > p && nl[-1] == '\r' ? nl - 1 : nl;
        if (stop == p) {
            p = nl + 1;
            break;
        }
        if ((size_t)(stop - p) > 15 && strncasecmp(p, "Content-Length:", 15) == 0) {
            const char* v = p + 15;
            while (v < stop && *v == ' ')
                ++v;
            length = 0;
            if (v == stop)
                return REPLY_GARBAGE;
            for (; v < stop; ++v) {
                if (*v < '0' || *v > '9' || length > RSPAMD_MAX_ANSWER)
                    return REPLY_GARBAGE;
                length = length * 10 + (*v - '0');
            }
        } else if ((size_t)(stop - p) > 18 && strncasecmp(p, "Transfer-Encoding:", 18) == 0) {
            chunked = 1;
        }
        p = nl + 1;
    }
    if (chunked)
        return REPLY_GARBAGE; /* never sent to an HTTP/1.0 request */
    r->body = p;
    r->bodySize = (size_t)(end - p);
    if (r->status == 204 || r->status == 304)
        r->bodySize = 0; /* no body, whatever Content-Length says */
    else if (length >= 0 && r->bodySize < (size_t)length)
        return REPLY_CUT;
    else if (length >= 0 && r->bodySize > (size_t)length)
        return REPLY_GARBAGE;
    return REPLY_OK;
}

typedef struct Call {
    const Rspamd* r;
    char reason[100];
    char line[400];
} Call;

/* POSTs the message to `path` at `address` and reads the whole reply. 0, or -1
 * with reason and log line filled. */
static int post(Call* c, const BridgeAddress* address, const char* path, const char* text,
                uint32_t length, BridgeBuffer* answer, Reply* reply)
{
    const Rspamd* r = c->r;
    const int64_t deadline = bridge_deadline(&r->bridge);
    char head[512];
    BridgeChunk chunks[2];
    int n, fd, kind;

    if (length > r->maxSize) {
        snprintf(c->reason, sizeof c->reason, "trop gros (%u octets)", length);
        snprintf(c->line, sizeof c->line, "message de %u octets non transmis (MaxSize=%llu)",
                 length, (unsigned long long)r->maxSize);
        return -1;
    }
    n = snprintf(head, sizeof head,
                 "POST %s HTTP/1.0\r\nHost: %s\r\nConnection: close\r\nContent-Length: %u\r\n"
                 "%s%s%s\r\n",
                 path, address->text, length, r->password[0] ? "Password: " : "", r->password,
                 r->password[0] ? "\r\n" : "");
    fd = bridge_connect(address, deadline);
    if (fd < 0) {
        snprintf(c->reason, sizeof c->reason, "injoignable (%s)", bridge_error_text(errno));
        snprintf(c->line, sizeof c->line, "moteur injoignable %s (%s)", address->text,
                 bridge_error_text(errno));
        return -1;
    }
    chunks[0].data = head;
    chunks[0].size = (size_t)n;
    chunks[1].data = text;
    chunks[1].size = length;
    n = bridge_exchange(fd, chunks, 2, 0, answer, RSPAMD_MAX_ANSWER, deadline);
    close(fd);
    if (n < 0) {
        const int e = errno;
        snprintf(c->reason, sizeof c->reason, "%s", bridge_error_text(e));
        if (e == ETIMEDOUT)
            snprintf(c->line, sizeof c->line, "pas de r\xe9ponse compl\xe8te de %s en %u ms"
                     /* pas de réponse complète */, address->text, r->bridge.budgetMs);
        else if (e == EMSGSIZE)
            snprintf(c->line, sizeof c->line, "r\xe9ponse de %s trop longue (plus de %u octets)"
                     /* réponse */, address->text, RSPAMD_MAX_ANSWER);
        else
            snprintf(c->line, sizeof c->line, "%s : %s", address->text, bridge_error_text(e));
        return -1;
    }
    kind = parse_reply(answer->data, answer->size, reply);
    if (kind == REPLY_CUT) {
        snprintf(c->reason, sizeof c->reason, "r\xe9ponse incompl\xe8te" /* réponse incomplète */);
        snprintf(c->line, sizeof c->line, "r\xe9ponse incompl\xe8te de %s (%zu octets)"
                 /* réponse incomplète */, address->text, answer->size);
        return -1;
    }
    if (kind == REPLY_GARBAGE) {
        char shown[80];
        bridge_copy(shown, sizeof shown, answer->data, answer->size);
        snprintf(c->reason, sizeof c->reason, "r\xe9ponse illisible" /* réponse */);
        snprintf(c->line, sizeof c->line, "r\xe9ponse illisible de %s : \xab %s \xbb"
                 /* réponse illisible de ... : « ... » */, address->text, shown);
        return -1;
    }
    return 0;
}

/* rspamd's error text: the JSON "error" when there is one, else the reason
 * phrase of the status line. */
static const char* error_text(const Reply* reply, const Result* result, int parsed)
{
    return parsed == 0 && result->hasError && result->error[0] ? result->error : reply->phrase;
}

static int32_t from_action(const char* action)
{
    static const struct {
        const char* name;
        int32_t verdict;
    } actions[] = {{"reject", ORVELANE_SPAM},        {"add header", ORVELANE_SPAM},
                   {"rewrite subject", ORVELANE_SPAM}, {"greylist", ORVELANE_UNSURE},
                   {"soft reject", ORVELANE_UNSURE},  {"no action", ORVELANE_HAM}};
    size_t i;
    for (i = 0; i < sizeof actions / sizeof actions[0]; ++i)
        if (strcmp(action, actions[i].name) == 0)
            return actions[i].verdict;
    return -1;
}

static int by_score(const void* a, const void* b)
{
    const Symbol* x = a;
    const Symbol* y = b;
    return x->score < y->score ? 1 : x->score > y->score ? -1 : strcmp(x->name, y->name);
}

BRIDGE_EXPORT void OrvelaneCheck(void* instance, const char* text, uint32_t length,
                                 OrvelaneVerdict* verdict)
{
    const Rspamd* r = instance;
    Call c = {r, "", ""};
    BridgeBuffer answer = {0};
    Reply reply;
    Result* result = NULL;
    int32_t engine;
    int i;

    if (!r || !bridge_verdict_usable(verdict))
        return;
    if (post(&c, &r->address, "/checkv2", text, length, &answer, &reply) < 0) {
        bridge_not_judged(&r->bridge, verdict, c.reason, "%s", c.line);
        goto done;
    }
    result = malloc(sizeof *result);
    if (!result) {
        bridge_not_judged(&r->bridge, verdict, "m\xe9moire insuffisante",
                          "m\xe9moire insuffisante" /* mémoire */);
        goto done;
    }
    i = parse_result(reply.body, reply.bodySize, result);
    if (reply.status != 200) {
        char why[200];
        const char* said = error_text(&reply, result, i);
        bridge_copy(why, sizeof why, said, strlen(said));
        bridge_not_judged(&r->bridge, verdict, why, "erreur du moteur : %d %s", reply.status, why);
        goto done;
    }
    engine = i == 0 && result->hasAction ? from_action(result->action) : -1;
    if (engine < 0 || !result->hasScore || !result->hasRequired) {
        char shown[80];
        bridge_copy(shown, sizeof shown, reply.body, reply.bodySize);
        bridge_not_judged(&r->bridge, verdict, "r\xe9ponse illisible" /* réponse */,
                          "r\xe9ponse illisible de %s : \xab %s \xbb" /* réponse illisible */,
                          r->address.text, shown);
        goto done;
    }
    verdict->verdict = bridge_decide(&r->band, engine, result->score);
    verdict->hasScore = 1;
    verdict->score = result->score;
    verdict->threshold = r->band.hasThreshold ? r->band.threshold : result->required;
    verdict->reason[0] = 0;
    /* The symbols that weigh most first; those that lower the score only when
     * nothing else is there. */
    qsort(result->symbols, (size_t)result->symbolCount, sizeof result->symbols[0], by_score);
    for (i = 0; i < result->symbolCount; ++i) {
        const Symbol* s = &result->symbols[i];
        if (s->score < 0 && verdict->reason[0])
            break;
        if (!bridge_list_add(verdict->reason, sizeof verdict->reason, s->name, strlen(s->name)))
            break;
    }
done:
    free(result);
    bridge_buffer_free(&answer);
}

BRIDGE_EXPORT int32_t OrvelaneLearn(void* instance, const char* text, uint32_t length,
                                    int32_t spam, char* result, uint32_t resultSize)
{
    const Rspamd* r = instance;
    Call c = {r, "", ""};
    BridgeBuffer answer = {0};
    Reply reply;
    Result* parsed = NULL;
    const char* kind = spam ? "spam" : "ham";
    char shown[300];
    int32_t learned = ORVELANE_LEARN_FAILED;
    int ok;

    if (!r)
        return ORVELANE_LEARN_FAILED;
    if (post(&c, &r->controller, spam ? "/learnspam" : "/learnham", text, length, &answer,
             &reply) < 0) {
        snprintf(shown, sizeof shown, "%s", c.line);
        goto failed;
    }
    parsed = malloc(sizeof *parsed);
    if (!parsed) {
        snprintf(shown, sizeof shown, "m\xe9moire insuffisante" /* mémoire */);
        goto failed;
    }
    ok = parse_result(reply.body, reply.bodySize, parsed);
    if (reply.status == 200 && ok == 0 && parsed->hasSuccess && parsed->success) {
        snprintf(shown, sizeof shown, "rspamd a appris ce message comme %s", kind);
        learned = ORVELANE_LEARNED;
    } else if (reply.status == 208 || strstr(error_text(&reply, parsed, ok), "already learned")) {
        /* "<id> has been already learned as spam, ignore it" */
        snprintf(shown, sizeof shown, "rspamd n'a rien appris : %s", error_text(&reply, parsed, ok));
        learned = ORVELANE_LEARN_NOTHING;
    } else {
        /* A 204 or an error: rspamd's own words say why (no Bayes backend,
         * too few tokens, ...). */
        snprintf(shown, sizeof shown, "rspamd n'a pas appris (%d) : %s", reply.status,
                 error_text(&reply, parsed, ok));
        goto failed;
    }
    goto done;
failed:
    bridge_log(&r->bridge, "apprentissage impossible : %s", shown);
done:
    if (result && resultSize)
        bridge_copy(result, resultSize, shown, strlen(shown));
    free(parsed);
    bridge_buffer_free(&answer);
    return learned;
}
