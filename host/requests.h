// Sending requests to the host's main window, the steps they are made in, and the
// zero-fill every buffer goes through. The plug-in's shell names the window once, in
// init; every other part asks the host through these, within a step: the host answers
// on the thread that owns its windows, so that thread must never wait for a lock held
// across a request without taking sent messages in meanwhile.
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

// Steps. The host's windows are all served by one thread, and while it handles one
// message, no click of the listener's (mouse, keyboard, hotkey, another program's
// command) is handled: it waits in the queue, as does every message sent from another
// thread. A step is work that thread does whole, in its handling of one private message
// sent to the main window: whatever changes during a step, the step changed, as the host
// takes in no sent message within any request we make. Every request of ours but init's
// and the watcher's (made on that thread already) is made in a step.
typedef void (*StepWork)(void* context);

// On: init, before any thread of ours starts. Takes: none. Names the step message.
void initSteps();
// On: any but windows. Takes: steps. Asks: what work asks. Runs work(context) as one
// step, on the windows' thread; where no procedure of ours serves the window (after quit,
// or with the window gone), on this thread. Returns once work has run.
void runStep(StepWork work, void* context);
// On: windows, as the main window's procedure. Takes: none. Whether message is a step's;
// if so, has run the step in flight where the message names it.
bool runStepMessage(UINT message, WPARAM wParam, LPARAM lParam);

// On: any. Takes: none. Asks: the button (HOST_BUTTON_...) pressed, as WM_COMMAND to the
// host's main window.
void pressHostButton(WPARAM button);

// On: any. Takes: none. Zeroes the first count bytes of buffer; returns 0.
int clearBuffer(int count, void* buffer);

#endif
