/*
 * bridge_driver: loads one engine bridge as the host does and runs it on
 * message files, for the end-to-end tests and bench/engines_bench.py.
 *
 *   bridge_driver PLUGIN.so [-t timeoutMs] [-f configFolder] [-j threads]
 *                 [-o key=value]... check|spam|ham FILE...
 *
 * Prints one line per file, in the order they finish:
 *   check:     <file> verdict=N hasScore=N score=X threshold=X reason=TEXT
 *   spam, ham: <file> learn=N result=TEXT
 * each log line the bridge writes as "log=TEXT" (without its CR LF), and last
 * "elapsed_ms=N". A log line not ending in CR LF or a reason without its NUL
 * is reported as "fault=...". Exit status 2 when Open fails ("open-error=...").
 */
#include "orvelane/plugin.h"

#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static pthread_mutex_t out_lock = PTHREAD_MUTEX_INITIALIZER;

static intptr_t send_message(OrvelaneWindow* window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam)
{
    const char* text = (const char*)lParam;
    size_t n = strlen(text);
    (void)window;
    (void)wParam;
    pthread_mutex_lock(&out_lock);
    if (message != 1234)
        printf("fault=log through message %u\n", message);
    if (n < 2 || strcmp(text + n - 2, "\r\n") != 0 || strcspn(text, "\r\n") != n - 2)
        printf("fault=log line not one CR LF line\n");
    printf("log=%.*s\n", (int)strcspn(text, "\r\n"), text);
    fflush(stdout);
    pthread_mutex_unlock(&out_lock);
    return 0;
}

static OrvelaneCheckFn check_fn;
static OrvelaneLearnFn learn_fn;
static void* instance;
static char** files;
static int file_count, next_file, learn_spam = -1;

static char* read_file(const char* path, uint32_t* length)
{
    FILE* f = fopen(path, "rb");
    char* data;
    long n;
    if (!f || fseek(f, 0, SEEK_END) != 0 || (n = ftell(f)) < 0 || fseek(f, 0, SEEK_SET) != 0) {
        if (f)
            fclose(f);
        return NULL;
    }
    data = malloc((size_t)n + 1);
    if (data && fread(data, 1, (size_t)n, f) != (size_t)n) {
        free(data);
        data = NULL;
    }
    fclose(f);
    if (data) {
        data[n] = 0;
        *length = (uint32_t)n;
    }
    return data;
}

static void* worker(void* unused)
{
    (void)unused;
    for (;;) {
        int i;
        uint32_t length = 0;
        char* text;
        pthread_mutex_lock(&out_lock);
        i = next_file < file_count ? next_file++ : -1;
        pthread_mutex_unlock(&out_lock);
        if (i < 0)
            return NULL;
        text = read_file(files[i], &length);
        if (!text) {
            pthread_mutex_lock(&out_lock);
            printf("%s fault=unreadable\n", files[i]);
            pthread_mutex_unlock(&out_lock);
            continue;
        }
        if (learn_spam < 0) {
            OrvelaneVerdict v;
            memset(&v, 0xff, sizeof v);
            v.size = sizeof v;
            v.verdict = ORVELANE_NOT_JUDGED;
            v.hasScore = 0;
            check_fn(instance, text, length, &v);
            pthread_mutex_lock(&out_lock);
            if (!memchr(v.reason, 0, sizeof v.reason))
                printf("%s fault=reason without NUL\n", files[i]);
            else
                printf("%s verdict=%d hasScore=%d score=%g threshold=%g reason=%s\n", files[i],
                       v.verdict, v.hasScore, v.hasScore ? v.score : 0,
                       v.hasScore ? v.threshold : 0, v.reason);
        } else {
            char result[256];
            int32_t r;
            memset(result, 0xff, sizeof result);
            r = learn_fn(instance, text, length, learn_spam, result, sizeof result);
            pthread_mutex_lock(&out_lock);
            if (!memchr(result, 0, sizeof result))
                printf("%s fault=result without NUL\n", files[i]);
            else
                printf("%s learn=%d result=%s\n", files[i], r, result);
        }
        fflush(stdout);
        pthread_mutex_unlock(&out_lock);
        free(text);
    }
}

int main(int argc, char** argv)
{
    OrvelaneWindow window = {sizeof window, send_message, NULL};
    OrvelaneOption options[32];
    OrvelaneConfig config;
    OrvelaneOpenFn open_fn;
    OrvelaneCloseFn close_fn;
    char error[256] = "";
    const char* name;
    pthread_t threads[64];
    int threadCount = 1, i, a = 2;
    struct timespec t0, t1;
    void* library;

    if (argc < 4) {
        fprintf(stderr, "usage: bridge_driver PLUGIN.so [-t ms] [-f folder] [-j n] [-o k=v]... "
                        "check|spam|ham FILE...\n");
        return 1;
    }
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    open_fn = (OrvelaneOpenFn)dlsym(library, "OrvelaneOpen");
    check_fn = (OrvelaneCheckFn)dlsym(library, "OrvelaneCheck");
    learn_fn = (OrvelaneLearnFn)dlsym(library, "OrvelaneLearn");
    close_fn = (OrvelaneCloseFn)dlsym(library, "OrvelaneClose");
    name = strrchr(argv[1], '/') ? strrchr(argv[1], '/') + 1 : argv[1];
    memset(&config, 0, sizeof config);
    config.size = sizeof config;
    config.name = name;
    config.options = options;
    config.configFolder = ".";
    config.timeoutMs = 10000;
    config.window = &window;
    config.setLogMessage = 1234;
    for (; a + 1 < argc && argv[a][0] == '-'; a += 2) {
        if (strcmp(argv[a], "-t") == 0) {
            config.timeoutMs = (uint32_t)atoi(argv[a + 1]);
        } else if (strcmp(argv[a], "-f") == 0) {
            config.configFolder = argv[a + 1];
        } else if (strcmp(argv[a], "-j") == 0) {
            threadCount = atoi(argv[a + 1]);
            threadCount = threadCount < 1 ? 1 : threadCount > 64 ? 64 : threadCount;
        } else if (strcmp(argv[a], "-o") == 0 && config.optionCount < 32) {
            char* eq = strchr(argv[a + 1], '=');
            if (!eq)
                return 1;
            *eq = 0;
            options[config.optionCount].key = argv[a + 1];
            options[config.optionCount++].value = eq + 1;
        } else {
            return 1;
        }
    }
    if (a >= argc)
        return 1;
    if (strcmp(argv[a], "spam") == 0 || strcmp(argv[a], "ham") == 0)
        learn_spam = strcmp(argv[a], "spam") == 0;
    else if (strcmp(argv[a], "check") != 0)
        return 1;
    if ((learn_spam < 0 && !check_fn) || (learn_spam >= 0 && !learn_fn)) {
        printf("fault=no such export\n");
        return 1;
    }
    files = argv + a + 1;
    file_count = argc - a - 1;
    if (open_fn) {
        instance = open_fn(&config, error, sizeof error);
        if (!instance) {
            printf("open-error=%s\n", error);
            return 2;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &t0);
    for (i = 0; i < threadCount; ++i)
        pthread_create(&threads[i], NULL, worker, NULL);
    for (i = 0; i < threadCount; ++i)
        pthread_join(threads[i], NULL);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    if (close_fn)
        close_fn(instance);
    printf("elapsed_ms=%ld\n",
           (long)((t1.tv_sec - t0.tv_sec) * 1000 + (t1.tv_nsec - t0.tv_nsec) / 1000000));
    dlclose(library);
    return 0;
}
