// The time-stamp worker: one thread per file that starts playing while no worker holds
// it. It saves the file's artist, writes the artist plus the time text into the ARTIST
// field about every 15 seconds, " (paused)" while playback stands still, and writes the
// artist back when the track nears its end, playback stops or the player moves to
// another file; a move of the file's entry within the playlist is followed.
//
// Threads and locks. The workers' records (which file each live worker holds, and
// whether it was told to end) are guarded by one lock held for a few memory operations
// only, never across a host request nor while taking another lock: the windows' thread
// takes it in tellWorkersOtherThan and startWorker. A worker's host requests and its
// claims (file_claims.h) run on its own thread, holding no lock of this file.
//
// Lifetime: each worker holds a reference to this library from its start until its
// thread ends (FreeLibraryAndExitThread), so the library stays loaded while any worker
// runs, whatever the host does after quit.
#ifndef VORLU_STAMPING_WORKER_H
#define VORLU_STAMPING_WORKER_H

#include "trackinfo/track_metadata.h"

#include <windows.h>

// Prepares the workers' signals and records; called once by init, before any worker starts.
void initWorkers();

// Starts a detached worker thread for the file the watcher has just seen play; false
// when no thread could be created, every record is in use, or the workers are stopping.
// The worker reads its file from the host again itself. Windows' thread.
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
// through. No worker starts afterwards. Returns the number still running. On the thread
// the host calls quit on, or on the windows' thread as its main window closes.
int stopWorkers(DWORD limitMs);

#endif
