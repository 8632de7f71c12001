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

#ifdef __cplusplus
}
#endif

#endif /* ORVELANE_PLUGIN_H */
