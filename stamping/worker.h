// The time-stamp worker: one thread per file that starts playing while no worker holds
// it. It saves the file's artist, writes the artist plus the time text into the ARTIST
// field about every 15 seconds, " (paused)" while playback stands paused, and writes the
// artist back when the track nears its end, playback stops or the player moves to
// another file; a move of the file's entry within the playlist is followed. It looks at
// playback once a second, and at once when the host calls back about a change (a start,
// stop, pause or resume); each look and each write (file_writes.h) is one step of the
// windows' thread. The records of the running workers are guarded by the records lock.
// Threads and locks: stamping/README.md.
#ifndef VORLU_STAMPING_WORKER_H
#define VORLU_STAMPING_WORKER_H

#include "trackinfo/track_metadata.h"

#include <windows.h>

// On: init, before any worker starts. Takes: none. The workers' records and signals.
void initWorkers();

// On: windows. Takes: records. Asks: nothing. Starts a worker for the file the watcher
// has just seen play, which reads its file from the host again itself; false when no
// thread could be made, every record is in use, or the threads are stopping.
bool startWorker(const TrackFile& file);

// Which worker of the current file a change wakes to look at playback at once.
enum HolderWake {
    WAKE_HOLDER,                // a status callback: any change of playback
    WAKE_HOLDER_AWAITING_TITLE  // a title update: only one whose restarted file reads position 0 until then
};

// On: windows. Takes: records. Asks: nothing. Tells every running worker whose file is not
// current to write its artist back and end now, wakes the one that holds current as wake
// says, and returns whether a live worker (one not told to end, nor writing back) holds
// current.
bool tellWorkersOtherThan(const TrackFile& current, HolderWake wake);

// On: worker, as its entry; the argument is its record. Takes: steps and records, never
// together. Asks: what stamping a track needs. Ends its thread with exit code 0.
unsigned WINAPI ThreadProc(void* argument);

// On: quit, or windows as the host's main window closes. Takes: records. Asks: nothing,
// taking in the workers' requests while it waits. Tells every worker to write its artist
// back now and waits for them up to limitMs; no worker starts afterwards. Returns how many
// threads of ours still run.
int stopWorkers(DWORD limitMs);

#endif
