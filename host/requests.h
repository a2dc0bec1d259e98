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

// On: any. Takes: none. Asks: the button (HOST_BUTTON_...) pressed, as WM_COMMAND to the
// host's main window.
void pressHostButton(WPARAM button);

// On: any. Takes: none. Zeroes the first count bytes of buffer; returns 0.
int clearBuffer(int count, void* buffer);

#endif
