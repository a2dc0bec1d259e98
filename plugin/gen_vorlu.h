// The plug-in's face to the host: the descriptor, the export, the lifecycle functions
// and the state they share with the rest of the plug-in.
//
// Threads: init, config and quit run on the thread the host calls them on; both window
// procedures run on the thread that owns the host's windows; workers run on their own.
// Every request to the host is a synchronous message answered on the windows' thread.
#ifndef VORLU_PLUGIN_GEN_VORLU_H
#define VORLU_PLUGIN_GEN_VORLU_H

#include "host/host_api.h"

#ifdef _WIN32
#define VORLU_EXPORT __declspec(dllexport)
#else
#define VORLU_EXPORT
#endif

extern "C" VORLU_EXPORT winampGeneralPurposePlugin* winampGetGeneralPurposePlugin();

extern winampGeneralPurposePlugin plugin;
extern WNDPROC lpWinampWndProcOld;
extern WNDPROC lpWinampPEWndProcOld;

int init();
void config();
void quit();
LRESULT CALLBACK WinampWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Hands a message to the procedure our subclass replaced and returns its result. Both
// replacement procedures end here, so quit can tell whether it runs inside one of them.
LRESULT passOn(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Zeroes the first count bytes of buffer; returns 0.
int clearBuffer(int count, char* buffer);

// Sends one request to the host's main window and returns its answer.
LRESULT askHost(WPARAM wParam, LPARAM code);
// The same, for answers that are a signed 32-bit time, length or index.
int askHostInt(WPARAM wParam, LPARAM code);

#endif
