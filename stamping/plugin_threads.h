// The life of every thread of the plug-in, worker or repair: each holds a reference to
// this library from its start until it ends (FreeLibraryAndExitThread), so the library
// stays loaded while any runs, whatever the host does after quit; and each counts among
// the threads that quit waits for.
#ifndef VORLU_STAMPING_PLUGIN_THREADS_H
#define VORLU_STAMPING_PLUGIN_THREADS_H

#include <windows.h>

// init, before any thread of ours starts.
void initPluginThreads();

// Windows' thread or init: starts entry(argument) on a detached thread; false when no
// thread could be made or the threads are stopping.
bool startPluginThread(unsigned(WINAPI* entry)(void*), void* argument);
// The thread itself, last: counts it out, then drops the journal entry given (0: none),
// which quit no longer waits for, and ends the thread. Journal lock.
void endPluginThread(unsigned int journalEntry);

// Any thread, no lock: whether quit (or the host's closing) has told the threads to stop.
bool pluginThreadsStopping();
// Any thread, no lock: after the stop, how far apart a thread spreads what it still tries
// so that its tries fall within the wait for it.
DWORD pluginThreadsStopSpacing(int tries);

// Quit's thread (or the windows' thread as the host closes): tells the threads to stop and
// waits up to limitMs for them, letting the requests they send to this thread's windows
// through. Returns how many still run.
void signalPluginThreadsToStop(DWORD limitMs);
int waitForPluginThreads(DWORD limitMs);

#endif
