/*
 * clamd: has a ClamAV daemon scan each message with zINSTREAM; a message in
 * which it finds something is reported as spam, with the signature's name as
 * the reason. One connection per call; clamd learns nothing, so there is no
 * OrvelaneLearn.
 *
 * Options (clamd.<key>=<value> in Orvelane.ini):
 *   Address  /run/clamav/clamd.ctl; the path of its LocalSocket, or host:port
 *            for its TCPSocket
 *   MaxSize  bytes sent at most (default 25 MB, clamd's own StreamMaxLength);
 *            a bigger message is not judged
 */
#include "bridge.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define CLAMD_CHUNK 65536
#define CLAMD_MAX_ANSWER 4096 /* "stream: <name> FOUND" */

typedef struct Clamd {
    Bridge bridge;
    BridgeAddress address;
    uint64_t maxSize;
} Clamd;

BRIDGE_EXPORT void* OrvelaneOpen(const OrvelaneConfig* config, char* error, uint32_t errorSize)
{
    static const char* const known[] = {"Address", "MaxSize", NULL};
    Clamd* c = calloc(1, sizeof *c);
    const char* address;
    char why[200];
    if (!c) {
        if (error && errorSize)
            snprintf(error, errorSize, "m\xe9moire insuffisante" /* mémoire */);
        return NULL;
    }
    if (bridge_init(&c->bridge, "clamd", config, known, error, errorSize) < 0)
        goto fail;
    address = bridge_option(config, "Address");
    if (bridge_address(&c->address, address ? address : "/run/clamav/clamd.ctl", why,
                       sizeof why) < 0) {
        bridge_open_failed(&c->bridge, error, errorSize, "%s", why);
        goto fail;
    }
    c->maxSize = 25 * 1024 * 1024;
    if (bridge_option_size(config, "MaxSize", UINT32_MAX, &c->maxSize) < 0) {
        bridge_open_failed(&c->bridge, error, errorSize, "MaxSize n'est pas un nombre d'octets");
        goto fail;
    }
    return c;
fail:
    free(c);
    return NULL;
}

BRIDGE_EXPORT void OrvelaneClose(void* instance)
{
    free(instance);
}

static int ends_with(const char* s, size_t n, const char* tail)
{
    size_t t = strlen(tail);
    return n >= t && memcmp(s + n - t, tail, t) == 0;
}

BRIDGE_EXPORT void OrvelaneCheck(void* instance, const char* text, uint32_t length,
                                 OrvelaneVerdict* verdict)
{
    const Clamd* c = instance;
    const Bridge* b = c ? &c->bridge : NULL;
    int64_t deadline;
    BridgeBuffer answer = {0};
    BridgeChunk* chunks = NULL;
    unsigned char* sizes = NULL;
    size_t pieces, count = 0, i, n;
    const char* a;
    int fd;

    if (!c || !bridge_verdict_usable(verdict))
        return;
    if (length > c->maxSize) {
        bridge_not_judged(b, verdict, "trop gros", "message de %u octets non transmis (MaxSize=%llu)",
                          length, (unsigned long long)c->maxSize);
        return;
    }
    deadline = bridge_deadline(b);
    /* "zINSTREAM\0", then pieces of a 4-byte big-endian length and the bytes,
     * then a zero length. */
    pieces = (length + CLAMD_CHUNK - 1) / CLAMD_CHUNK;
    chunks = malloc((2 * pieces + 2) * sizeof *chunks);
    sizes = malloc(4 * (pieces + 1));
    if (!chunks || !sizes) {
        bridge_not_judged(b, verdict, "m\xe9moire insuffisante", "m\xe9moire insuffisante"
                          /* mémoire */);
        goto done;
    }
    chunks[count].data = "zINSTREAM";
    chunks[count++].size = 10; /* with its NUL */
    for (i = 0; i <= pieces; ++i) {
        size_t size = i < pieces ? (length - i * CLAMD_CHUNK < CLAMD_CHUNK ? length - i * CLAMD_CHUNK
                                                                           : CLAMD_CHUNK)
                                 : 0;
        unsigned char* s = sizes + 4 * i;
        s[0] = (unsigned char)(size >> 24);
        s[1] = (unsigned char)(size >> 16);
        s[2] = (unsigned char)(size >> 8);
        s[3] = (unsigned char)size;
        chunks[count].data = s;
        chunks[count++].size = 4;
        if (size) {
            chunks[count].data = text + i * CLAMD_CHUNK;
            chunks[count++].size = size;
        }
    }
    fd = bridge_connect(&c->address, deadline);
    if (fd < 0) {
        char reason[100];
        snprintf(reason, sizeof reason, "injoignable (%s)", bridge_error_text(errno));
        bridge_not_judged(b, verdict, reason, "moteur injoignable %s (%s)", c->address.text,
                          bridge_error_text(errno));
        goto done;
    }
    if (bridge_exchange(fd, chunks, count, 0, &answer, CLAMD_MAX_ANSWER, deadline) < 0) {
        const int e = errno;
        close(fd);
        if (e == ETIMEDOUT)
            bridge_not_judged(b, verdict, bridge_error_text(e),
                              "pas de r\xe9ponse compl\xe8te de %s en %u ms"
                              /* pas de réponse complète */, c->address.text, b->budgetMs);
        else if (e == EMSGSIZE)
            bridge_not_judged(b, verdict, bridge_error_text(e),
                              "r\xe9ponse de %s trop longue (plus de %u octets)" /* réponse */,
                              c->address.text, CLAMD_MAX_ANSWER);
        else
            bridge_not_judged(b, verdict, bridge_error_text(e), "%s : %s", c->address.text,
                              bridge_error_text(e));
        goto done;
    }
    close(fd);
    /* One answer, ended by a NUL: "stream: OK", "stream: <name> FOUND",
     * "<text> ERROR". */
    a = answer.data;
    n = answer.size;
    if (n == 0 || a[n - 1] != 0 || memchr(a, 0, n) != a + n - 1) {
        char shown[80];
        bridge_copy(shown, sizeof shown, a, n);
        /* What came is clamd's when it starts as its answers do. */
        if (memchr(a, 0, n) || memcmp(a, "stream: ", n < 8 ? n : 8) != 0)
            bridge_not_judged(b, verdict, "r\xe9ponse illisible" /* réponse */,
                              "r\xe9ponse illisible de %s : \xab %s \xbb" /* réponse illisible */,
                              c->address.text, shown);
        else
            bridge_not_judged(b, verdict, "r\xe9ponse incompl\xe8te" /* réponse incomplète */,
                              "r\xe9ponse incompl\xe8te de %s : \xab %s \xbb"
                              /* réponse incomplète */, c->address.text, shown);
        goto done;
    }
    --n;
    while (n > 0 && (a[n - 1] == '\n' || a[n - 1] == '\r'))
        --n;
    if (ends_with(a, n, " ERROR")) {
        char why[200];
        bridge_copy(why, sizeof why, a, n - 6);
        bridge_not_judged(b, verdict, why, "erreur du moteur : %s", why);
    } else if (n == 10 && memcmp(a, "stream: OK", 10) == 0) {
        verdict->verdict = ORVELANE_HAM;
        verdict->hasScore = 0;
        verdict->reason[0] = 0;
    } else if (n > 14 && memcmp(a, "stream: ", 8) == 0 && ends_with(a, n, " FOUND")) {
        verdict->verdict = ORVELANE_SPAM;
        verdict->hasScore = 0;
        bridge_copy(verdict->reason, sizeof verdict->reason, a + 8, n - 14);
    } else {
        char shown[80];
        bridge_copy(shown, sizeof shown, a, n);
        bridge_not_judged(b, verdict, "r\xe9ponse illisible" /* réponse */,
                          "r\xe9ponse illisible de %s : \xab %s \xbb" /* réponse illisible */,
                          c->address.text, shown);
    }
done:
    free(chunks);
    free(sizes);
    bridge_buffer_free(&answer);
}
