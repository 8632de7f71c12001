/*
 * What the engine bridges (spamd.c, rspamd.c, bogofilter.c, clamd.c) share:
 * their options, the per-call deadline, connections and exchanges bounded in
 * bytes and time, a program run with the message on its standard input, log
 * lines and the verdict.
 *
 * Nothing here keeps state between calls: an instance is written by Open and
 * only read afterwards, so Check and Learn may run on several threads at once.
 * Every wait is bounded by the deadline a call computes from bridge_deadline().
 *
 * Log lines and reasons are Windows-1252 bytes, like the rest of the log.
 */
#ifndef ORVELANE_BRIDGE_H
#define ORVELANE_BRIDGE_H

#include "orvelane/plugin.h"

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

#if defined(__GNUC__)
#define BRIDGE_EXPORT __attribute__((visibility("default")))
#define BRIDGE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define BRIDGE_EXPORT
#define BRIDGE_PRINTF(f, a)
#endif

/* What every bridge instance starts with. */
typedef struct Bridge {
    char name[32];          /* the bridge's name as the log shows it: "spamd" */
    OrvelaneWindow* window; /* may be null */
    uint32_t setLogMessage;
    uint32_t budgetMs;      /* what one call may take: a little less than the host waits */
} Bridge;

/* Fills `b` from the configuration and logs (once) every option key that is
 * not in `known` (a null-terminated list). Returns 0, or -1 with a reason in
 * `error` when the configuration is unusable. */
int bridge_init(Bridge* b, const char* name, const OrvelaneConfig* config,
                const char* const* known, char* error, uint32_t errorSize);

/* The value of option `key` (compared without regard to ASCII case; the last
 * line wins), or null when it is absent or empty. */
const char* bridge_option(const OrvelaneConfig* config, const char* key);

/* Option `key` as a number (decimal point, whatever the locale). Returns 1 when
 * set, 0 when absent (`*value` untouched), -1 when not a number. */
int bridge_option_number(const OrvelaneConfig* config, const char* key, double* value);

/* Option `key` as a whole number of at most `max`; same answers. */
int bridge_option_size(const OrvelaneConfig* config, const char* key, uint64_t max,
                       uint64_t* value);

/* Open's failure: the reason in `error` (the host logs it); returns null. */
void* bridge_open_failed(const Bridge* b, char* error, uint32_t errorSize, const char* fmt, ...)
    BRIDGE_PRINTF(4, 5);

/* A number at the start of [s, end): [+-]digits[.digits][e[+-]digits], read the
 * same in every locale. Returns the first byte after it, or null. */
const char* bridge_parse_number(const char* s, const char* end, double* value);

/* `value` with at most `decimals` decimals, trailing zeros dropped: "7.3". */
void bridge_format_number(char* out, size_t size, double value, int decimals);

/* ---- time ---------------------------------------------------------------- */

int64_t bridge_now_ms(void);
/* The deadline of a call that starts now. */
int64_t bridge_deadline(const Bridge* b);

/* ---- addresses and connections ------------------------------------------- */

#define BRIDGE_MAX_ADDRESSES 4

/* An engine's address: "host:port", "[v6]:port" or, starting with '/', the
 * path of a Unix socket. A host name is resolved once, by bridge_address. */
typedef struct BridgeAddress {
    char text[128]; /* as written, for log lines */
    int count;
    socklen_t length[BRIDGE_MAX_ADDRESSES];
    struct sockaddr_storage addr[BRIDGE_MAX_ADDRESSES];
} BridgeAddress;

/* Returns 0, or -1 with why in `error`. */
int bridge_address(BridgeAddress* a, const char* text, char* error, size_t errorSize);

/* A connected, non-blocking socket to one of the addresses, or -1 with errno
 * (ETIMEDOUT past the deadline). */
int bridge_connect(const BridgeAddress* a, int64_t deadline);

/* A growing byte buffer; free with bridge_buffer_free. */
typedef struct BridgeBuffer {
    char* data;
    size_t size;
    size_t capacity;
} BridgeBuffer;

void bridge_buffer_free(BridgeBuffer* buffer);

/* One piece of a request sent as it stands. */
typedef struct BridgeChunk {
    const void* data;
    size_t size;
} BridgeChunk;

/* Sends the chunks and reads the answer until the peer closes, at the same
 * time (an engine may answer, and close, before it has read everything).
 * `halfClose`: shut down the sending side once everything is sent. Returns 0
 * with the whole answer in `answer` (NUL-terminated besides), or -1 with errno:
 * ETIMEDOUT past the deadline, EMSGSIZE beyond `maxAnswer` bytes, ECONNRESET
 * when the peer closed without a byte, or the socket's own error. */
int bridge_exchange(int fd, const BridgeChunk* chunks, size_t count, int halfClose,
                    BridgeBuffer* answer, size_t maxAnswer, int64_t deadline);

/* ---- programs ------------------------------------------------------------ */

/* Runs argv[0] (a path; no shell, no search) with `input` on its standard
 * input; its standard output goes to `out` (at most `maxOut` bytes), the first
 * line of its standard error to `errLine`. Past the deadline, or with too much
 * output, the program and its process group are killed. Returns 0 with its
 * exit status in `*status`, or -1 with errno (ETIMEDOUT, EMSGSIZE, ENOENT, ...;
 * EINTR when it ended on a signal). */
int bridge_run(const char* const* argv, const void* input, size_t inputSize, BridgeBuffer* out,
               size_t maxOut, char* errLine, size_t errLineSize, int64_t deadline, int* status);

/* ---- log, texts and verdicts --------------------------------------------- */

/* One line "<name> : <text>\r\n" in the activity log. */
void bridge_log(const Bridge* b, const char* fmt, ...) BRIDGE_PRINTF(2, 3);

/* A short French text for errno `error` (for log lines and reasons). */
const char* bridge_error_text(int error);

/* Copies at most n bytes of src as one line into dst (size bytes, always
 * NUL-terminated): trailing blanks and line ends go, control bytes become
 * spaces, and a cut text ends in "...". */
void bridge_copy(char* dst, size_t size, const char* src, size_t n);

/* Appends `name` (n bytes) to the comma-separated list in `list` (size bytes)
 * when it fits whole. Returns 0 once the list is full. */
int bridge_list_add(char* list, size_t size, const char* name, size_t n);

/* Whether the host's verdict is one this build may fill. */
int bridge_verdict_usable(const OrvelaneVerdict* verdict);

/* A failed check: NOT_JUDGED, `reason` in the verdict, and one log line. */
void bridge_not_judged(const Bridge* b, OrvelaneVerdict* verdict, const char* reason,
                       const char* fmt, ...) BRIDGE_PRINTF(4, 5);

/* The Threshold and Unsure options: a score from `threshold` is spam, from
 * `unsure` (below that) unsure. Without Threshold the engine's own decision
 * stands; Unsure still turns its ham from that score into unsure. */
typedef struct BridgeBand {
    int hasThreshold;
    double threshold;
    int hasUnsure;
    double unsure;
} BridgeBand;

/* Reads Threshold and Unsure; -1 with the reason logged when one is not a
 * number. */
int bridge_band(const Bridge* b, const OrvelaneConfig* config, BridgeBand* band, char* error,
                uint32_t errorSize);

/* The verdict from the engine's own one (HAM, SPAM or UNSURE) and its score. */
int32_t bridge_decide(const BridgeBand* band, int32_t engine, double score);

#endif /* ORVELANE_BRIDGE_H */
