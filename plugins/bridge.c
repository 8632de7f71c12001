/* The engine bridges' shared helper; see bridge.h. */
#define _GNU_SOURCE
#include "bridge.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

/* ---- options ------------------------------------------------------------- */

static int lower(int c)
{
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

static int same_key(const char* a, const char* b)
{
    while (*a && lower((unsigned char)*a) == lower((unsigned char)*b))
        ++a, ++b;
    return *a == 0 && *b == 0;
}

static int is_known(const char* key, const char* const* known)
{
    for (; known && *known; ++known)
        if (same_key(key, *known))
            return 1;
    return 0;
}

int bridge_init(Bridge* b, const char* name, const OrvelaneConfig* config,
                const char* const* known, char* error, uint32_t errorSize)
{
    uint32_t timeout, margin, i;
    memset(b, 0, sizeof *b);
    snprintf(b->name, sizeof b->name, "%s", name);
    if (!config || config->size < sizeof(OrvelaneConfig)) {
        if (error && errorSize)
            snprintf(error, errorSize, "configuration incompl\xe8te" /* incomplète */);
        return -1;
    }
    b->window = config->window;
    b->setLogMessage = config->setLogMessage;
    /* The host gives up on a call after timeoutMs; ours ends a little before,
     * so that its own answer, not the host's, says what happened. */
    timeout = config->timeoutMs ? config->timeoutMs : 10000;
    margin = timeout / 10;
    margin = margin < 50 ? 50 : margin > 1000 ? 1000 : margin;
    b->budgetMs = timeout > 2 * margin ? timeout - margin : timeout / 2 + 1;
    for (i = 0; i < config->optionCount && config->options; ++i) {
        const char* key = config->options[i].key;
        if (key && !is_known(key, known)) {
            char shown[64];
            bridge_copy(shown, sizeof shown, key, strlen(key));
            bridge_log(b, "option inconnue %s.%s ignor\xe9" "e" /* ignorée */, name, shown);
        }
    }
    return 0;
}

const char* bridge_option(const OrvelaneConfig* config, const char* key)
{
    const char* found = NULL;
    uint32_t i;
    for (i = 0; config && config->options && i < config->optionCount; ++i) {
        const OrvelaneOption* o = &config->options[i];
        if (o->key && o->value && same_key(o->key, key))
            found = o->value;
    }
    return found && *found ? found : NULL;
}

int bridge_option_number(const OrvelaneConfig* config, const char* key, double* value)
{
    const char* text = bridge_option(config, key);
    const char* end;
    double v;
    if (!text)
        return 0;
    end = text + strlen(text);
    if (bridge_parse_number(text, end, &v) != end)
        return -1;
    *value = v;
    return 1;
}

int bridge_option_size(const OrvelaneConfig* config, const char* key, uint64_t max,
                       uint64_t* value)
{
    const char* text = bridge_option(config, key);
    uint64_t v = 0;
    if (!text)
        return 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9' || v > (max - (uint64_t)(*text - '0')) / 10)
            return -1;
        v = v * 10 + (uint64_t)(*text - '0');
    }
    *value = v;
    return 1;
}

void* bridge_open_failed(const Bridge* b, char* error, uint32_t errorSize, const char* fmt, ...)
{
    char text[300];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    (void)b;
    if (error && errorSize) /* the host logs it, with the plug-in's name */
        snprintf(error, errorSize, "%s", text);
    return NULL;
}

const char* bridge_parse_number(const char* s, const char* end, double* value)
{
    double v = 0, scale = 1;
    int negative = 0, digits = 0, exponent = 0, expNegative = 0, expDigits = 0;
    if (s < end && (*s == '+' || *s == '-'))
        negative = *s++ == '-';
    for (; s < end && *s >= '0' && *s <= '9'; ++s, ++digits)
        if (digits < 40)
            v = v * 10 + (*s - '0');
        else
            ++exponent; /* digits past any precision only scale */
    if (s < end && *s == '.') {
        for (++s; s < end && *s >= '0' && *s <= '9'; ++s, ++digits)
            if (digits < 40) {
                v = v * 10 + (*s - '0');
                --exponent;
            }
    }
    if (digits == 0)
        return NULL;
    if (s < end && (*s == 'e' || *s == 'E')) {
        const char* mark = s++;
        int e = 0;
        if (s < end && (*s == '+' || *s == '-'))
            expNegative = *s++ == '-';
        for (; s < end && *s >= '0' && *s <= '9'; ++s, ++expDigits)
            if (e < 10000)
                e = e * 10 + (*s - '0');
        if (expDigits == 0)
            s = mark; /* "5e" is 5 followed by something else */
        else
            exponent += expNegative ? -e : e;
    }
    if (exponent > 308 || exponent < -340)
        return exponent > 308 && v != 0 ? NULL : (*value = 0, s);
    for (; exponent > 0; --exponent)
        scale *= 10;
    for (; exponent < 0; ++exponent)
        scale /= 10;
    v *= scale;
    *value = negative && v != 0 ? -v : v; /* "-0.0" reads as 0 */
    return s;
}

void bridge_format_number(char* out, size_t size, double value, int decimals)
{
    unsigned long long whole, fraction, unit = 1;
    int i, negative = value < 0;
    char digits[24];
    if (decimals < 0)
        decimals = 0;
    if (decimals > 6)
        decimals = 6;
    for (i = 0; i < decimals; ++i)
        unit *= 10;
    if (negative)
        value = -value;
    if (!(value < 1e12))
        value = 1e12; /* also NaN: a score past this means nothing more */
    whole = (unsigned long long)(value * (double)unit + 0.5);
    fraction = whole % unit;
    whole /= unit;
    for (i = decimals; i > 0 && fraction % 10 == 0; --i)
        fraction /= 10;
    if (whole == 0 && fraction == 0)
        negative = 0;
    if (i > 0)
        snprintf(digits, sizeof digits, ".%0*llu", i, fraction);
    else
        digits[0] = 0;
    snprintf(out, size, "%s%llu%s", negative ? "-" : "", whole, digits);
}

/* ---- time ---------------------------------------------------------------- */

int64_t bridge_now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

int64_t bridge_deadline(const Bridge* b)
{
    return bridge_now_ms() + b->budgetMs;
}

/* What is left until the deadline, for poll(); 0 once it has passed. */
static int remaining(int64_t deadline)
{
    int64_t left = deadline - bridge_now_ms();
    return left <= 0 ? 0 : left > 60000 ? 60000 : (int)left;
}

/* ---- addresses and connections ------------------------------------------- */

int bridge_address(BridgeAddress* a, const char* text, char* error, size_t errorSize)
{
    char host[128];
    const char* port;
    struct addrinfo hints, *list = NULL, *it;
    size_t n = strlen(text);
    int rc;

    memset(a, 0, sizeof *a);
    bridge_copy(a->text, sizeof a->text, text, n);
    if (text[0] == '/') {
        struct sockaddr_un* un = (struct sockaddr_un*)&a->addr[0];
        if (n >= sizeof un->sun_path) {
            snprintf(error, errorSize, "chemin de socket trop long : %s", a->text);
            return -1;
        }
        un->sun_family = AF_UNIX;
        memcpy(un->sun_path, text, n + 1);
        a->length[0] = (socklen_t)(offsetof(struct sockaddr_un, sun_path) + n + 1);
        a->count = 1;
        return 0;
    }
    if (text[0] == '[') {
        const char* close = strchr(text, ']');
        if (!close || close[1] != ':' || (size_t)(close - text - 1) >= sizeof host)
            goto bad;
        memcpy(host, text + 1, (size_t)(close - text - 1));
        host[close - text - 1] = 0;
        port = close + 2;
    } else {
        const char* colon = strrchr(text, ':');
        if (!colon || strchr(text, ':') != colon || (size_t)(colon - text) >= sizeof host)
            goto bad;
        memcpy(host, text, (size_t)(colon - text));
        host[colon - text] = 0;
        port = colon + 1;
    }
    if (!host[0] || !port[0] || strspn(port, "0123456789") != strlen(port) || strlen(port) > 5 ||
        atoi(port) < 1 || atoi(port) > 65535)
        goto bad;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    rc = getaddrinfo(host, port, &hints, &list);
    if (rc != 0) {
        snprintf(error, errorSize, "adresse inconnue : %s", a->text);
        return -1;
    }
    for (it = list; it && a->count < BRIDGE_MAX_ADDRESSES; it = it->ai_next) {
        if (it->ai_addrlen > sizeof a->addr[0])
            continue;
        memcpy(&a->addr[a->count], it->ai_addr, it->ai_addrlen);
        a->length[a->count++] = it->ai_addrlen;
    }
    freeaddrinfo(list);
    if (a->count == 0) {
        snprintf(error, errorSize, "adresse inconnue : %s", a->text);
        return -1;
    }
    return 0;
bad:
    snprintf(error, errorSize,
             "adresse illisible : %s (h\xf4te:port, [IPv6]:port ou chemin d'une socket)"
             /* hôte:port */,
             a->text);
    return -1;
}

static int connect_one(const struct sockaddr_storage* addr, socklen_t length, int64_t deadline)
{
    int fd = socket(addr->ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int error = 0;
    socklen_t size = sizeof error;
    struct pollfd p;
    if (fd < 0)
        return -1;
    if (connect(fd, (const struct sockaddr*)addr, length) == 0)
        return fd;
    if (errno != EINPROGRESS && errno != EINTR)
        goto fail;
    p.fd = fd;
    p.events = POLLOUT;
    for (;;) {
        int wait = remaining(deadline);
        int r;
        if (wait == 0) {
            errno = ETIMEDOUT;
            goto fail;
        }
        r = poll(&p, 1, wait);
        if (r > 0)
            break;
        if (r < 0 && errno != EINTR)
            goto fail;
    }
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
        goto fail;
    if (error) {
        errno = error;
        goto fail;
    }
    return fd;
fail:
    error = errno;
    close(fd);
    errno = error;
    return -1;
}

int bridge_connect(const BridgeAddress* a, int64_t deadline)
{
    int i, error = EADDRNOTAVAIL;
    for (i = 0; i < a->count; ++i) {
        int fd = connect_one(&a->addr[i], a->length[i], deadline);
        if (fd >= 0)
            return fd;
        error = errno;
        if (error == ETIMEDOUT)
            break;
    }
    errno = error;
    return -1;
}

void bridge_buffer_free(BridgeBuffer* buffer)
{
    free(buffer->data);
    buffer->data = NULL;
    buffer->size = buffer->capacity = 0;
}

/* Room for at least one more byte and the NUL, within max + 1 bytes of data
 * (the byte past max tells that the answer is too long). 0 or -1. */
static int make_room(BridgeBuffer* b, size_t max)
{
    size_t want;
    char* grown;
    if (b->capacity - b->size > 1)
        return 0;
    want = b->capacity ? b->capacity * 2 : 4096;
    if (want > max + 2)
        want = max + 2;
    if (want <= b->capacity)
        return 0;
    grown = realloc(b->data, want);
    if (!grown)
        return -1;
    b->data = grown;
    b->capacity = want;
    return 0;
}

/* Reads what is there into `b`. 1 at the end of the stream, 0 for more to
 * come, -1 with errno. */
static int read_some(int fd, BridgeBuffer* b, size_t max, int socket)
{
    for (;;) {
        ssize_t n;
        if (make_room(b, max) < 0)
            return -1;
        n = socket ? recv(fd, b->data + b->size, b->capacity - b->size - 1, MSG_DONTWAIT)
                   : read(fd, b->data + b->size, b->capacity - b->size - 1);
        if (n > 0) {
            b->size += (size_t)n;
            b->data[b->size] = 0;
            if (b->size > max) {
                errno = EMSGSIZE;
                return -1;
            }
            continue;
        }
        if (n == 0)
            return 1;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

int bridge_exchange(int fd, const BridgeChunk* chunks, size_t count, int halfClose,
                    BridgeBuffer* answer, size_t maxAnswer, int64_t deadline)
{
    size_t chunk = 0, offset = 0;
    int sending = 1, sendError = 0;

    answer->size = 0;
    if (make_room(answer, maxAnswer) < 0)
        return -1;
    answer->data[0] = 0;
    for (;;) {
        struct pollfd p;
        int r, wait;
        while (chunk < count && offset >= chunks[chunk].size) {
            ++chunk;
            offset = 0;
        }
        if (sending && chunk == count) {
            sending = 0;
            if (halfClose)
                shutdown(fd, SHUT_WR);
        }
        wait = remaining(deadline);
        if (wait == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        p.fd = fd;
        p.events = POLLIN | (sending ? POLLOUT : 0);
        p.revents = 0;
        r = poll(&p, 1, wait);
        if (r < 0 && errno != EINTR)
            return -1;
        if (r <= 0)
            continue;
        if (sending && (p.revents & (POLLOUT | POLLERR | POLLHUP))) {
            struct iovec io[64];
            struct msghdr m;
            size_t k = 0, c = chunk;
            ssize_t n;
            for (; c < count && k < 64; ++c) {
                size_t skip = c == chunk ? offset : 0;
                if (chunks[c].size <= skip)
                    continue;
                io[k].iov_base = (char*)chunks[c].data + skip;
                io[k++].iov_len = chunks[c].size - skip;
            }
            memset(&m, 0, sizeof m);
            m.msg_iov = io;
            m.msg_iovlen = k;
            n = sendmsg(fd, &m, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) {
                size_t sent = (size_t)n;
                while (sent > 0 && chunk < count) {
                    size_t left = chunks[chunk].size - offset;
                    if (sent < left) {
                        offset += sent;
                        sent = 0;
                    } else {
                        sent -= left;
                        ++chunk;
                        offset = 0;
                    }
                }
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                /* The engine stopped reading: what it said before is the answer. */
                sendError = errno;
                sending = 0;
            }
        }
        if (p.revents & (POLLIN | POLLERR | POLLHUP)) {
            int end = read_some(fd, answer, maxAnswer, 1);
            if (end < 0 && errno == ECONNRESET && answer->size > 0)
                end = 1; /* a reset after an answer, when our request was left unread */
            if (end < 0)
                return -1;
            if (end == 1) {
                if (answer->size > 0)
                    return 0;
                errno = sendError ? sendError : ECONNRESET;
                return -1;
            }
        }
    }
}

/* ---- programs ------------------------------------------------------------ */

static void close_fd(int* fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

static void stop_child(pid_t pid)
{
    kill(-pid, SIGKILL); /* its own process group: whatever it started goes too */
    kill(pid, SIGKILL);
    while (waitpid(pid, NULL, 0) < 0 && errno == EINTR)
        ;
}

static int spawn(const char* const* argv, int in, int out, int err, pid_t* pid)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    sigset_t none, defaults;
    static const int reset[] = {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT,
                                SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM};
    size_t i;
    int rc;

    sigemptyset(&none);
    sigemptyset(&defaults);
    for (i = 0; i < sizeof reset / sizeof reset[0]; ++i)
        sigaddset(&defaults, reset[i]);
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3); /* the host's descriptors stay its own */
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    rc = posix_spawn(pid, argv[0], &actions, &attr, (char* const*)argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc;
}

int bridge_run(const char* const* argv, const void* input, size_t inputSize, BridgeBuffer* out,
               size_t maxOut, char* errLine, size_t errLineSize, int64_t deadline, int* status)
{
    /* Standard input is a socket pair, so that writing to a program that quit
     * early gives EPIPE (MSG_NOSIGNAL) instead of a SIGPIPE in the host. */
    int in[2] = {-1, -1}, o[2] = {-1, -1}, e[2] = {-1, -1};
    BridgeBuffer err = {0};
    size_t written = 0;
    int outOpen = 1, errOpen = 1, error = 0, rc, wstatus = 0;
    pid_t pid;

    out->size = 0;
    if (errLine && errLineSize)
        errLine[0] = 0;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) < 0 ||
        pipe2(o, O_CLOEXEC) < 0 || pipe2(e, O_CLOEXEC) < 0) {
        error = errno;
        goto closed;
    }
    rc = spawn(argv, in[1], o[1], e[1], &pid);
    close_fd(&in[1]);
    close_fd(&o[1]);
    close_fd(&e[1]);
    if (rc != 0) {
        error = rc;
        goto closed;
    }
    fcntl(in[0], F_SETFL, O_NONBLOCK);
    fcntl(o[0], F_SETFL, O_NONBLOCK);
    fcntl(e[0], F_SETFL, O_NONBLOCK);
    if (make_room(out, maxOut) < 0) {
        error = errno;
        goto kill;
    }
    out->data[0] = 0;
    if (inputSize == 0)
        shutdown(in[0], SHUT_WR);
    while (outOpen || errOpen) {
        struct pollfd p[3];
        int n = 0, wait = remaining(deadline), r;
        if (wait == 0) {
            error = ETIMEDOUT;
            goto kill;
        }
        if (in[0] >= 0 && written < inputSize)
            p[n].fd = in[0], p[n].events = POLLOUT, p[n++].revents = 0;
        if (outOpen)
            p[n].fd = o[0], p[n].events = POLLIN, p[n++].revents = 0;
        if (errOpen)
            p[n].fd = e[0], p[n].events = POLLIN, p[n++].revents = 0;
        r = poll(p, (nfds_t)n, wait);
        if (r < 0 && errno != EINTR) {
            error = errno;
            goto kill;
        }
        for (int k = 0; r > 0 && k < n; ++k) {
            if (!p[k].revents)
                continue;
            if (p[k].fd == in[0]) {
                ssize_t s = send(in[0], (const char*)input + written, inputSize - written,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
                if (s > 0)
                    written += (size_t)s;
                else if (s < 0 && errno != EAGAIN && errno != EINTR)
                    close_fd(&in[0]); /* it stopped reading; its status tells the rest */
                if (in[0] >= 0 && written == inputSize)
                    shutdown(in[0], SHUT_WR);
            } else if (p[k].fd == o[0]) {
                int end = read_some(o[0], out, maxOut, 0);
                if (end < 0) {
                    error = errno;
                    goto kill;
                }
                outOpen = !end;
            } else {
                /* Only the start is kept; the rest is read and dropped. */
                char scratch[4096];
                ssize_t got = read(e[0], scratch, sizeof scratch);
                int end = got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR);
                if (got > 0 && errLine && errLineSize && err.size < 512) {
                    size_t take = (size_t)got < 512 - err.size ? (size_t)got : 512 - err.size;
                    if (make_room(&err, 512) == 0) {
                        size_t room = err.capacity - err.size - 1;
                        take = take < room ? take : room;
                        memcpy(err.data + err.size, scratch, take);
                        err.size += take;
                        err.data[err.size] = 0;
                    }
                }
                errOpen = !end;
            }
        }
    }
    /* Both outputs closed: the program is ending. */
    for (;;) {
        pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR) {
            error = errno;
            goto closed;
        }
        if (remaining(deadline) == 0) {
            error = ETIMEDOUT;
            goto kill;
        }
        nanosleep(&(struct timespec){0, 1000000}, NULL);
    }
    goto closed;
kill:
    stop_child(pid);
closed:
    close_fd(&in[0]);
    close_fd(&in[1]);
    close_fd(&o[0]);
    close_fd(&o[1]);
    close_fd(&e[0]);
    close_fd(&e[1]);
    if (errLine && errLineSize && err.size) {
        size_t n = strcspn(err.data, "\r\n");
        bridge_copy(errLine, errLineSize, err.data, n);
    }
    bridge_buffer_free(&err);
    if (error) {
        errno = error;
        return -1;
    }
    if (WIFSIGNALED(wstatus)) {
        *status = 128 + WTERMSIG(wstatus);
        errno = EINTR;
        return -1;
    }
    *status = WEXITSTATUS(wstatus);
    return 0;
}

/* ---- log, texts and verdicts --------------------------------------------- */

void bridge_log(const Bridge* b, const char* fmt, ...)
{
    char line[600];
    int n;
    va_list args;
    if (!b->window || !b->window->SendMessage)
        return;
    n = snprintf(line, sizeof line, "%s : ", b->name);
    va_start(args, fmt);
    vsnprintf(line + n, sizeof line - (size_t)n - 2, fmt, args);
    va_end(args);
    strcat(line, "\r\n");
    b->window->SendMessage(b->window, b->setLogMessage, 0, (intptr_t)line);
}

const char* bridge_error_text(int error)
{
    switch (error) {
    case ECONNREFUSED: return "connexion refus\xe9" "e"; /* connexion refusée */
    case ETIMEDOUT: return "d\xe9lai d\xe9pass\xe9"; /* délai dépassé */
    case ENOENT: return "introuvable";
    case EACCES: return "acc\xe8s refus\xe9"; /* accès refusé */
    case EPERM: return "op\xe9ration interdite"; /* opération interdite */
    case ECONNRESET: return "connexion ferm\xe9" "e sans r\xe9ponse"; /* connexion fermée sans réponse */
    case EPIPE: return "connexion ferm\xe9" "e par le moteur"; /* connexion fermée par le moteur */
    case EMSGSIZE: return "r\xe9ponse trop longue"; /* réponse trop longue */
    case EHOSTUNREACH: return "h\xf4te inaccessible"; /* hôte inaccessible */
    case ENETUNREACH: return "r\xe9seau inaccessible"; /* réseau inaccessible */
    case EADDRNOTAVAIL: return "adresse indisponible";
    case ENOMEM: return "m\xe9moire insuffisante"; /* mémoire insuffisante */
    case EMFILE:
    case ENFILE: return "plus de descripteur de fichier libre";
    case EAGAIN: return "ressource momentan\xe9ment indisponible"; /* momentanément */
    case EINTR: return "arr\xea" "t\xe9 par un signal"; /* arrêté par un signal */
    default: return "erreur syst\xe8me"; /* erreur système */
    }
}

void bridge_copy(char* dst, size_t size, const char* src, size_t n)
{
    size_t i, room;
    if (size == 0)
        return;
    while (n > 0 && (unsigned char)src[n - 1] <= ' ')
        --n; /* a line's end, trailing blanks */
    room = size - 1;
    if (n > room && room >= 3)
        room -= 3;
    for (i = 0; i < n && i < room; ++i) {
        unsigned char c = (unsigned char)src[i];
        dst[i] = (c < 0x20 || c == 0x7f) ? ' ' : (char)c;
    }
    if (i < n && size >= 4) {
        memcpy(dst + i, "...", 3);
        i += 3;
    }
    dst[i] = 0;
}

int bridge_list_add(char* list, size_t size, const char* name, size_t n)
{
    size_t used = strlen(list), need = n + (used ? 1 : 0);
    if (n == 0)
        return 1;
    if (used + need + 1 > size)
        return 0;
    if (used)
        list[used++] = ',';
    bridge_copy(list + used, n + 1, name, n);
    return 1;
}

int bridge_verdict_usable(const OrvelaneVerdict* verdict)
{
    return verdict && verdict->size >= sizeof(OrvelaneVerdict);
}

void bridge_not_judged(const Bridge* b, OrvelaneVerdict* verdict, const char* reason,
                       const char* fmt, ...)
{
    char line[500];
    va_list args;
    va_start(args, fmt);
    vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    bridge_log(b, "%s", line);
    verdict->verdict = ORVELANE_NOT_JUDGED;
    verdict->hasScore = 0;
    bridge_copy(verdict->reason, sizeof verdict->reason, reason, strlen(reason));
}

int bridge_band(const Bridge* b, const OrvelaneConfig* config, BridgeBand* band, char* error,
                uint32_t errorSize)
{
    static const char* const keys[] = {"Threshold", "Unsure"};
    double* values[] = {&band->threshold, &band->unsure};
    int* set[] = {&band->hasThreshold, &band->hasUnsure};
    int i;
    memset(band, 0, sizeof *band);
    for (i = 0; i < 2; ++i) {
        int r = bridge_option_number(config, keys[i], values[i]);
        if (r < 0) {
            bridge_open_failed(b, error, errorSize, "%s n'est pas un nombre : %.60s", keys[i],
                               bridge_option(config, keys[i]));
            return -1;
        }
        *set[i] = r;
    }
    return 0;
}

int32_t bridge_decide(const BridgeBand* band, int32_t engine, double score)
{
    int32_t v = engine;
    if (band->hasThreshold)
        v = score >= band->threshold ? ORVELANE_SPAM : ORVELANE_HAM;
    if (v != ORVELANE_SPAM && band->hasUnsure)
        v = score >= band->unsure ? ORVELANE_UNSURE : (band->hasThreshold ? ORVELANE_HAM : v);
    return v;
}
