// The time-stamp worker: one thread per file that starts playing while no worker holds
// it. It saves the file's artist,
// writes the artist plus the time text into the ARTIST field about every 15 seconds,
// " (paused)" while playback stands still, and writes the artist back when the track
// nears its end, playback stops or the player moves to another entry.
#ifndef VORLU_STAMPING_WORKER_H
#define VORLU_STAMPING_WORKER_H

#include "trackinfo/track_metadata.h"

#include <windows.h>

// Worker lifetime: each worker holds a reference to this library from its start until
// its thread ends (FreeLibraryAndExitThread), so the library stays loaded while any
// worker runs, whatever the host does after quit.

// Prepares the workers' signals and records; called once by init, before any worker starts.
void initWorkers();

// Starts a detached worker thread for the file the watcher has just seen begin; false
// when no thread could be created, every record is in use, or the workers are stopping.
// The worker reads its file from the host again itself.
bool startWorker(const TrackFile& file);

// Tells every running worker whose file is not current to write its artist back and end
// now; a worker whose file is current is not disturbed. Returns whether such a live
// worker (one not told to end, nor writing back) holds current. No host request is made.
// Called by the watcher on every track-change notice, on the windows' thread.
bool tellWorkersOtherThan(const TrackFile& current);

// The thread's entry; the argument is the worker's record. Ends its thread with exit code 0.
unsigned WINAPI ThreadProc(void* argument);

// Every thread of the plug-in, worker or repair, starts here: it holds a reference to
// the library and counts among the threads quit waits for, until it calls
// endPluginThread, which drops the journal entry given (0: none) after quit has stopped
// waiting for it, and ends the thread. False when no thread could be made or quit came.
bool startPluginThread(unsigned(WINAPI* entry)(void*), void* argument);
void endPluginThread(unsigned int journalEntry);
// Whether quit has asked the plug-in's threads to end.
bool workersStopping();

// Tells every worker to finish now (each writes its saved artist back first) and waits
// for them up to limitMs, letting the requests they send to this thread's windows
// through. No worker starts afterwards. Returns the number still running.
int stopWorkers(DWORD limitMs);

#endif
