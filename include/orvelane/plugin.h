/*
 * Orvelane analysis plug-in interface.
 *
 * A plug-in is a shared library loaded by Orvelane before each analysis run
 * and unloaded after it. The host hands every call a window handle: a pointer
 * to the OrvelaneWindow below. A plug-in writes a line to Orvelane's activity
 * log by calling
 *
 *     window->SendMessage(window, setLogMessage, 0, (intptr_t)"text\r\n");
 *
 * with the "Set Log" message number it was given. The call is synchronous: the
 * text is copied before it returns.
 *
 * Analyse and Level below are the first version of the interface; engines
 * that give a score, a reason or learn use the second, further down.
 */
#ifndef ORVELANE_PLUGIN_H
#define ORVELANE_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OrvelaneWindow OrvelaneWindow;

/* SendMessage-style entry point of the host window. */
typedef intptr_t (*OrvelaneSendMessageFn)(OrvelaneWindow* window, uint32_t message,
                                          uintptr_t wParam, intptr_t lParam);

struct OrvelaneWindow {
    uint32_t size;                     /* sizeof(OrvelaneWindow) as the host built it */
    OrvelaneSendMessageFn SendMessage; /* deliver a message to the host window */
    void* host;                        /* the host's own object; opaque to plug-ins */
};

/*
 * The exports, looked up by these exact names and called with the platform's
 * default C calling convention (declare them extern "C" in C++).
 *
 * Analyse: judges one message. The message is spam when the low 8 bits of the
 * answer are not all zero (256, for instance, means "not spam").
 *   text          the message, prepared as Level asks, zero-terminated, 8-bit
 *                 (Windows-1252), header and body, lines ending in CR LF.
 *                 Characters are not converted between charsets for it:
 *                 a part the message declares in another charset (UTF-8,
 *                 ...) arrives in that charset's own bytes, as they stand
 *                 once the transfer decoding Level asks for is done, and
 *                 encoded header words (=?charset?B|Q?...?=) arrive encoded.
 *                 Orvelane's own rules see such text converted to
 *                 Windows-1252, each character it cannot hold as '?'.
 *   rules         the BODY rules of the rule file, upper case, joined by "|"
 *   server        the POP3 server host name of the connection
 *   user          the connection's USER command line as sent to the server
 *   window        the host window; null when there is none
 *   setLogMessage the "Set Log" message number for window->SendMessage
 * The pointers are valid only during the call.
 *
 * Level (optional): the preparation bits below, applied to a fresh copy of the
 * message in the order of the table. Without a Level export every step applies.
 */
typedef int32_t (*OrvelaneAnalyseFn)(const char* text, const char* rules, const char* server,
                                     const char* user, OrvelaneWindow* window,
                                     uint32_t setLogMessage);
typedef int32_t (*OrvelaneLevelFn)(void);

#define ORVELANE_LEVEL_BASE64          0x001 /* decode base64 parts */
#define ORVELANE_LEVEL_STRIP_HTML      0x002 /* remove HTML markup */
#define ORVELANE_LEVEL_8BIT            0x004 /* decode 8-bit character sets */
#define ORVELANE_LEVEL_ENTITIES        0x008 /* decode HTML entities */
#define ORVELANE_LEVEL_QUOTED          0x010 /* decode quoted-printable */
#define ORVELANE_LEVEL_BREAKS_TO_SPACE 0x020 /* CR, LF and TAB become spaces */
#define ORVELANE_LEVEL_REMOVE_BREAKS   0x040 /* CR, LF and TAB removed */
#define ORVELANE_LEVEL_SEPARATORS      0x080 /* separator characters removed */
#define ORVELANE_LEVEL_SQUEEZE_SPACES  0x100 /* runs of spaces become one space */
#define ORVELANE_LEVEL_LOOKALIKES      0x200 /* look-alike characters become letters */
#define ORVELANE_LEVEL_REMOVE_SPACES   0x400 /* every space removed */

/* What a plug-in library exports. */
int32_t Analyse(const char* text, const char* rules, const char* server, const char* user,
                OrvelaneWindow* window, uint32_t setLogMessage);
int32_t Level(void);

/*
 * ---- Second version: engines --------------------------------------------
 *
 * A plug-in may export the functions below besides, or instead of, Analyse.
 * Each is optional: a library is loaded when it exports Analyse,
 * OrvelaneCheck or OrvelaneLearn, and is used for what it has. When it
 * exports OrvelaneCheck, that is what judges a message (Analyse and Level
 * are then not called).
 *
 * Threads. OrvelaneCheck and OrvelaneLearn are called on the host's worker
 * threads, possibly several at once for one instance, never on the thread
 * of the window. OrvelaneOpen and OrvelaneClose are never called while a
 * Check or Learn of the same instance runs. The host waits for a call at
 * most config->timeoutMs; a call still running then counts as "not judged"
 * and its instance is neither closed nor unloaded until it returns. Keep
 * your own network and process waits shorter than that.
 *
 * Logging. window->SendMessage(window, setLogMessage, 0, (intptr_t)text)
 * may be called from any thread; it returns once the text is copied. The
 * lines written during a Check appear in the log with that message's
 * analysis.
 */

/* One "<name>.<key>=<value>" line of Orvelane.ini, for the plug-in named
 * <name> (its PlugIn value up to any ".so", after the last '/'): key and
 * value as written, spaces removed. */
typedef struct OrvelaneOption {
    const char* key;
    const char* value;
} OrvelaneOption;

typedef struct OrvelaneConfig {
    uint32_t size;                 /* sizeof(OrvelaneConfig) as the host built it */
    const char* name;              /* the plug-in's name ("spamd" for PlugIn=spamd) */
    const OrvelaneOption* options; /* this plug-in's options, in file order */
    uint32_t optionCount;
    const char* configFolder;      /* the folder Orvelane.ini was read from */
    uint32_t timeoutMs;            /* PlugInSeconds, in milliseconds */
    OrvelaneWindow* window;        /* for log lines; null when there is none */
    uint32_t setLogMessage;
} OrvelaneConfig;

/* What a check found. */
#define ORVELANE_HAM        0 /* not spam */
#define ORVELANE_SPAM       1 /* spam: the message is tagged */
#define ORVELANE_UNSURE     2 /* in the engine's unsure band: not tagged, shown */
#define ORVELANE_NOT_JUDGED 3 /* the engine could not judge (down, refused, too big, ...):
                                 the message is treated as if the plug-in were absent */

#define ORVELANE_REASON_SIZE 256

typedef struct OrvelaneVerdict {
    uint32_t size;      /* sizeof(OrvelaneVerdict) as the host built it */
    int32_t verdict;    /* ORVELANE_HAM ... ORVELANE_NOT_JUDGED; the host presets NOT_JUDGED */
    int32_t hasScore;   /* non-zero when score and threshold mean something */
    double score;       /* the engine's score */
    double threshold;   /* the score from which the plug-in says spam */
    char reason[ORVELANE_REASON_SIZE]; /* short, NUL-terminated: rule or virus names,
                                          or why the message was not judged */
} OrvelaneVerdict;

/* What a learning call did. */
#define ORVELANE_LEARNED      1  /* the engine's knowledge changed */
#define ORVELANE_LEARN_NOTHING 0 /* the engine answered but learned nothing (known already) */
#define ORVELANE_LEARN_FAILED (-1) /* the engine could not be asked or refused */

/*
 * OrvelaneOpen: called once per load with the plug-in's configuration (the
 * pointers are valid only during the call: copy what you keep). Returns the
 * instance handed to the other calls, or null with a reason in `error`
 * (NUL-terminated, errorSize bytes at most); a null answer leaves the
 * plug-in out of that run. Without this export the instance is null.
 *
 * OrvelaneCheck: judges `text`, the message exactly as the server sent it
 * (header and body, CR LF line ends, `length` bytes, NUL-terminated as well),
 * and fills `verdict`.
 *
 * OrvelaneLearn: teaches the engine that `text` (as for Check) is spam
 * (`spam` non-zero) or not; writes what the engine answered to `result`
 * (NUL-terminated, resultSize bytes at most) and returns ORVELANE_LEARNED,
 * ORVELANE_LEARN_NOTHING or ORVELANE_LEARN_FAILED.
 *
 * OrvelaneClose: releases the instance before the library is unloaded.
 */
typedef void* (*OrvelaneOpenFn)(const OrvelaneConfig* config, char* error, uint32_t errorSize);
typedef void (*OrvelaneCheckFn)(void* instance, const char* text, uint32_t length,
                                OrvelaneVerdict* verdict);
typedef int32_t (*OrvelaneLearnFn)(void* instance, const char* text, uint32_t length, int32_t spam,
                                   char* result, uint32_t resultSize);
typedef void (*OrvelaneCloseFn)(void* instance);

void* OrvelaneOpen(const OrvelaneConfig* config, char* error, uint32_t errorSize);
void OrvelaneCheck(void* instance, const char* text, uint32_t length, OrvelaneVerdict* verdict);
int32_t OrvelaneLearn(void* instance, const char* text, uint32_t length, int32_t spam, char* result,
                      uint32_t resultSize);
void OrvelaneClose(void* instance);

#ifdef __cplusplus
}
#endif

#endif /* ORVELANE_PLUGIN_H */
