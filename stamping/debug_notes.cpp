#include "stamping/debug_notes.h"

const int NOTE_SIZE = WIDE_TEXT_SIZE + 160;

void noteForDebugger(const textUnit* name, bool wide, const char* what) {
    textUnit note[NOTE_SIZE];
    textUnit wideName[WIDE_TEXT_SIZE];
    wideName[0] = 0;
    if (!name) {
    } else if (wide) {
        copyText(wideName, WIDE_TEXT_SIZE, name);
    } else {
        char bytes[FILE_NAME_SIZE];
        bytesFromUnits(bytes, FILE_NAME_SIZE, name);
        MultiByteToWideChar(CP_ACP, 0, bytes, -1, reinterpret_cast<LPWSTR>(wideName), WIDE_TEXT_SIZE);
    }
    copyText(note, NOTE_SIZE, u"Vorlu: ");
    int length = textLength(note, NOTE_SIZE);
    copyText(note + length, NOTE_SIZE - length, wideName);
    if (wideName[0] != 0) appendAscii(note, NOTE_SIZE, ": ");
    appendAscii(note, NOTE_SIZE, what);
    appendAscii(note, NOTE_SIZE, "\n");
    OutputDebugStringW(reinterpret_cast<LPCWSTR>(note));
}

// What was said about files in this run: each file's name as a 64-bit hash, and the reason.
// The oldest is forgotten first once every place is taken.
const int SAID_NOTES = 64;
struct SaidNote {
    unsigned long long name;
    const char* what;
};
static SaidNote said[SAID_NOTES];
static int saidUsed, saidNext;
static CRITICAL_SECTION notesLock;

void initDebugNotes() {
    InitializeCriticalSection(&notesLock);
    saidUsed = saidNext = 0;
}

static unsigned long long nameHash(const TrackFile& file) {
    unsigned long long hash = file.wide ? 14695981039346656037ULL : 1099511628211ULL;
    for (const textUnit* unit = file.name; *unit != 0; unit++) hash = (hash ^ *unit) * 1099511628211ULL;
    return hash;
}

void noteOnceForDebugger(const TrackFile& file, const char* what) {
    unsigned long long name = nameHash(file);
    EnterCriticalSection(&notesLock);
    bool before = false;
    for (int i = 0; i < saidUsed && !before; i++) before = said[i].name == name && said[i].what == what;
    if (!before) {
        SaidNote note = {name, what};
        said[saidNext] = note;
        saidNext = (saidNext + 1) % SAID_NOTES;
        if (saidUsed < SAID_NOTES) saidUsed++;
    }
    LeaveCriticalSection(&notesLock);
    if (!before) noteForDebugger(file.name, file.wide, what);
}
