// One line to the debugger's output (OutputDebugStringW, seen in any debug-output viewer)
// for each decision a listener may ask about: why a file plays unstamped, the journal's
// folder, each stamp the start's repair takes out. No file, no setting.
#ifndef VORLU_STAMPING_DEBUG_NOTES_H
#define VORLU_STAMPING_DEBUG_NOTES_H

#include "trackinfo/track_metadata.h"

// On: any. Takes: none. Asks: nothing. Writes "Vorlu: <name>: <what>", name in UTF-16 (a
// folder, or a file's name on the wide path) or else the system code page's; without a
// name (null), "Vorlu: <what>".
void noteForDebugger(const textUnit* name, bool wide, const char* what);

// On: init, before any thread of ours starts. Takes: none. Forgets what was said.
void initDebugNotes();
// Files and reasons a run says: a file's reasons are few, and a thousand files that play
// unstamped for a reason are days of play.
const int SAID_NOTES = 1024;

// On: any. Takes: notes. As noteForDebugger for file, but once per file (as sameFileName
// compares them) and reason in a run of the player: a file that plays again, or whose
// title the player updates, is not said again. Past SAID_NOTES, nothing more is said.
void noteOnceForDebugger(const TrackFile& file, const char* what);

#endif
