// The repair at start: goes through the journal on a thread of its own and takes out the
// stamps that runs which died left behind, without those files having to play again.
#ifndef VORLU_STAMPING_REPAIR_H
#define VORLU_STAMPING_REPAIR_H

// Starts the repair thread; called by init after the workers' set-up. For each entry of
// a process that has ended: the file holds its original with one stamp of ours behind
// it, and the original is written back; or it holds the original, or someone's edit, and
// is left alone; either way the entry goes. A file the host cannot read now keeps its
// entry for a later start. A file a worker of this run has claimed is left to it. Quit
// stops the repair between two files.
void startRepair();

#endif
