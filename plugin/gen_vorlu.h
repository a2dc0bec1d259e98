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
// The main window's replacement procedure: passes every message on unchanged. Before it
// passes on WM_DESTROY, or WM_ENDSESSION ending the session, it has every worker write its
// artist back and waits for them as quit does: the host calls quit only afterwards.
LRESULT CALLBACK WinampWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The playlist editor's replacement procedure: lets the track-change watcher see every
// message, then passes it on unchanged and returns the previous procedure's result.
LRESULT CALLBACK WinampPEWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
