// The plug-in's face to the host: the descriptor, the export, the lifecycle functions
// and the state they share with the rest of the plug-in.
//
// Threads and locks: stamping/README.md.
#ifndef VORLU_PLUGIN_GEN_VORLU_H
#define VORLU_PLUGIN_GEN_VORLU_H

#include "host/host_api.h"

#ifdef _WIN32
#define VORLU_EXPORT __declspec(dllexport)
#else
#define VORLU_EXPORT
#endif

// On: any. Takes: none. The descriptor's address.
extern "C" VORLU_EXPORT winampGeneralPurposePlugin* winampGetGeneralPurposePlugin();

extern winampGeneralPurposePlugin plugin;
extern WNDPROC lpWinampWndProcOld;
extern WNDPROC lpWinampPEWndProcOld;

// On: init. Takes: journal. Asks: the version, the settings folder, the playlist editor.
// Prepares every part, repairs in the background, and subclasses both windows.
int init();
// On: the host's thread. Takes: none. Shows the configuration notice.
void config();
// On: quit. Takes: records, journal. Has every worker write back (up to two seconds), lets
// go of an empty journal, and puts the windows' procedures back where they are ours.
void quit();
// On: windows. Takes: steps, records, as quit. Asks: what a step asks. The main window's
// replacement procedure: runs the steps of ours sent to it, and passes every other
// message on unchanged; after the host's status callback it tells the workers (the
// watcher). Before it passes on WM_DESTROY, or WM_ENDSESSION ending the session, it has
// every worker write its artist back and waits for them as quit does: the host calls quit
// only afterwards.
LRESULT CALLBACK WinampWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// On: windows. Takes: steps, records, as the watcher. The playlist editor's
// replacement procedure: lets the track-change watcher see every message, then passes it
// on unchanged and returns the previous procedure's result.
LRESULT CALLBACK WinampPEWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
