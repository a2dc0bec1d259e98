// The repair: goes through the journal in every folder it may be in and takes out the
// stamps that players which died left behind, without those files having to play again.
// For each entry of a process that has ended: the file holds its original with one stamp
// of ours behind it, and the original is written back; or it holds the original, or
// someone's edit, and is left alone; either way the entry goes once that is on disk (the
// file flushed, or a later pass finds it so the system writer's delay after the first).
// A file that cannot be read now keeps its entry: for good while its drive or share is
// missing, for JOURNAL_MAX_STARTS starts of a player while it is there and reads empty
// (the listener cleared the artist); a file deleted or moved from a drive that is there
// loses it. A file a worker of this run has claimed is left to it. Quit stops the repair
// between two files. One repair runs at a time.
#ifndef VORLU_STAMPING_REPAIR_H
#define VORLU_STAMPING_REPAIR_H

#include <windows.h>

// How long after a repair a running player's worker starts another, at the end of its next
// cycle (at most 16 s later) or its next second of a pause: a player killed beside it
// leaves its stamps under a minute while this one stamps.
const DWORD REPAIR_INTERVAL_MS = 40000;

// On: init. Takes: none. Starts the first repair, the one that counts this start for the
// files it cannot read, on a thread of its own; the repair takes journal, then steps one
// file at a time, and asks a read, a set and its commit per stamp it takes out.
void startRepair();

// On: worker, holding nothing. Takes: none. Starts a repair, as startRepair does but
// counting no start, when the last one started REPAIR_INTERVAL_MS ago; else nothing. The
// repair's thread, as it ends, drops the journal entries whose time has come.
void repairNowAndThen();

#endif
