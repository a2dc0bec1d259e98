// The repair: goes through the journal in every folder it may be in and takes out the
// stamps that players which died left behind, without those files having to play again.
// For each entry of a process that has ended: the file holds its original with one stamp
// of ours behind it, and the original is written back; or it holds the original, or
// someone's edit, and is left alone; either way the entry goes. A file the host cannot
// read now keeps its entry for a later start. A file a worker of this run has claimed is
// left to it. Quit stops the repair between two files. One repair runs at a time.
#ifndef VORLU_STAMPING_REPAIR_H
#define VORLU_STAMPING_REPAIR_H

#include <windows.h>

// How long after a repair a running player's worker repairs again, at the end of its
// next cycle or its next second of a pause: a player killed beside it leaves its stamps
// no longer than a minute while this one stamps.
const DWORD REPAIR_INTERVAL_MS = 45000;

// Starts the repair on a thread of its own; called by init after the workers' set-up.
void startRepair();

// Runs the repair on the calling worker's thread when the last one started at least
// REPAIR_INTERVAL_MS ago; the caller holds no lock.
void repairNowAndThen();

#endif
