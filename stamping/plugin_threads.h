// The life of every thread of the plug-in, worker or repair: each holds a reference to
// this library from its start until it ends (FreeLibraryAndExitThread), so the library
// stays loaded while any runs, whatever the host does after quit; and each counts among
// the threads that quit waits for.
#ifndef VORLU_STAMPING_PLUGIN_THREADS_H
#define VORLU_STAMPING_PLUGIN_THREADS_H

#include <windows.h>

// On: init, before any thread of ours starts. Takes: none.
void initPluginThreads();

// On: windows or init. Takes: none. Starts entry(argument) on a detached thread; false
// when no thread could be made or the threads are stopping.
bool startPluginThread(unsigned(WINAPI* entry)(void*), void* argument);
// On: worker or repair, last. Takes: journal. Drops the journal entry given (0: none) and
// the entries whose write-backs the system's writer has written by now, then counts the
// thread out and ends it.
void endPluginThread(unsigned int journalEntry);

// On: any. Takes: none. Whether quit (or the host's closing) has told the threads to stop.
bool pluginThreadsStopping();
// On: any. Takes: none. After the stop, how far apart a thread spreads tries it has left
// so that all of them fall within the wait for it.
DWORD pluginThreadsStopSpacing(int tries);

// On: quit, or windows as the host closes. Takes: none. Tell the threads to stop, then
// wait up to limitMs for them, taking in the requests they send to this thread's windows;
// the wait returns how many still run.
void signalPluginThreadsToStop(DWORD limitMs);
int waitForPluginThreads(DWORD limitMs);

#endif
