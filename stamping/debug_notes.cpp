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
