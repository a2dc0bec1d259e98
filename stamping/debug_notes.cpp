#include "stamping/debug_notes.h"

const int NOTE_SIZE = WIDE_TEXT_SIZE + 160;

void noteForDebugger(const textUnit* name, bool wide, const char* what) {
    textUnit note[NOTE_SIZE];
    copyText(note, NOTE_SIZE, u"Vorlu: ");
    textUnit* named = note + textLength(note, NOTE_SIZE);
    if (!name || !nameInUtf16(name, wide, named)) named[0] = 0;
    if (named[0] != 0) appendAscii(note, NOTE_SIZE, ": ");
    appendAscii(note, NOTE_SIZE, what);
    appendAscii(note, NOTE_SIZE, "\n");
    OutputDebugStringW(reinterpret_cast<LPCWSTR>(note));
}

// What was said about files in this run: each file's name as fileNameHash gives it, and
// the reason. Once every place is taken nothing more is said about a file in this run,
// rather than saying again what was said.
struct SaidNote {
    unsigned long long name;
    const char* what;
};
static SaidNote said[SAID_NOTES];
static int saidUsed;
static CRITICAL_SECTION notesLock;

void initDebugNotes() {
    InitializeCriticalSection(&notesLock);
    saidUsed = 0;
}

void noteOnceForDebugger(const TrackFile& file, const char* what) {
    unsigned long long name = fileNameHash(file);
    EnterCriticalSection(&notesLock);
    bool before = false;
    for (int i = 0; i < saidUsed && !before; i++) before = said[i].name == name && said[i].what == what;
    bool saying = !before && saidUsed < SAID_NOTES;
    if (saying) {
        SaidNote note = {name, what};
        said[saidUsed++] = note;
    }
    bool lastPlace = saying && saidUsed == SAID_NOTES;
    LeaveCriticalSection(&notesLock);
    if (saying) noteForDebugger(file.name, file.wide, what);
    if (lastPlace) noteForDebugger(0, false, "nothing more is said about files until the player starts again");
}
