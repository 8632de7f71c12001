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

#ifdef __cplusplus
}
#endif

#endif /* ORVELANE_PLUGIN_H */
