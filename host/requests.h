// Sending requests to the host's main window, and the zero-fill every buffer goes
// through. The plug-in's shell names the window once, in init; every other part asks
// the host through these, from any thread, holding whatever lock it holds: the host
// answers on the thread that owns its windows, so that thread must never wait for a
// lock held across a request without taking sent messages in meanwhile.
#ifndef VORLU_HOST_REQUESTS_H
#define VORLU_HOST_REQUESTS_H

#include "host/host_api.h"

// On: init, before anything is asked. Takes: none. The window that answers requests: the
// descriptor's hwndParent.
void setHostWindow(HWND mainWindow);

// On: init. Takes: none. Asks: IPC_GETVERSION, once; 0 when the answer cannot be one.
void detectHostVersion();
LRESULT hostVersion();

// On: any. Takes: none. Asks: the one request given, and returns its answer.
LRESULT askHost(WPARAM wParam, LPARAM code);
// The same, for answers that are a signed 32-bit time, length or index.
int askHostInt(WPARAM wParam, LPARAM code);

// The play state (IPC_ISPLAYING) just before and just after the host handled one request
// of ours, read by the main window's procedure within that handling: no click of the
// listener's comes between. seen is false where the request did not pass our procedure.
struct PlayStateAround {
    bool seen;
    LRESULT before;
    LRESULT after;
};

// On: any, one thread at a time (a worker or the repair, holding claims). Takes: none.
// Asks: the request given, and returns its answer; around into *around.
LRESULT askHostReadingPlayState(WPARAM wParam, LPARAM code, PlayStateAround* around);
// On: windows, as the main window's procedure. Takes: none. Asks: IPC_ISPLAYING, where
// the message is the request askHostReadingPlayState has in flight: before the host
// handles it (handled false) and after (true).
void watchRequestOfOurs(UINT message, WPARAM wParam, LPARAM lParam, bool handled);
// On: init and quit. Takes: none. Whether the main window's procedure that calls
// watchRequestOfOurs is installed: else a writer reads the play state itself.
void setRequestsWatched(bool watched);
bool requestsWatched();

// On: any. Takes: none. Asks: the button (HOST_BUTTON_...) pressed, as WM_COMMAND to the
// host's main window.
void pressHostButton(WPARAM button);

// On: any. Takes: none. Zeroes the first count bytes of buffer; returns 0.
int clearBuffer(int count, void* buffer);

#endif
