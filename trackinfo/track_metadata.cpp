#include "trackinfo/track_metadata.h"

#include "host/requests.h"

#include <string.h>

const char artistField[] = "ARTIST";

static char metadata[METADATA_SIZE];

// Workers read on threads of their own, and each read lands in the one buffer above.
// A lock held from the read until the caller's copy keeps reads apart without
// per-thread storage: implicit thread-local data is unreliable in a library loaded
// with LoadLibrary on older Windows, and a read happens only once per track.
static CRITICAL_SECTION metadataLock;

void initTrackMetadata() { InitializeCriticalSection(&metadataLock); }

int GetFileName(char* out) {
    int index = askHostInt(0, IPC_GETLISTPOS);
    const char* name = reinterpret_cast<const char*>(askHost(static_cast<WPARAM>(index), IPC_GETPLAYLISTFILE));
    if (!name) {
        out[0] = '\0';
        return 0;
    }
    size_t length = strnlen(name, FILE_NAME_SIZE - 1);
    memcpy(out, name, length);
    out[length] = '\0';
    return 0;
}

char* GetExtendedFileInfo(const char* fileName, const char* field) {
    extendedFileInfoStruct request;
    memset(&request, 0, sizeof request);
    request.filename = fileName;
    request.metadata = field;
    request.ret = metadata;
    request.retlen = sizeof metadata;
    if (askHost(reinterpret_cast<WPARAM>(&request), IPC_GET_EXTENDED_FILE_INFO) == 0) return 0;
    return metadata;
}

int copyExtendedFileInfo(const char* fileName, const char* field, char* out, int outSize) {
    EnterCriticalSection(&metadataLock);
    const char* value = GetExtendedFileInfo(fileName, field);
    int length = -1;
    if (value) {
        // A host that left no terminator within the buffer is read only up to its end.
        size_t valueLength = strnlen(value, METADATA_SIZE);
        if (valueLength < static_cast<size_t>(outSize)) {
            memcpy(out, value, valueLength);
            out[valueLength] = '\0';
            length = static_cast<int>(valueLength);
        }
    }
    LeaveCriticalSection(&metadataLock);
    return length;
}

LRESULT SetExtendedFileInfo(const char* fileName, const char* field, const char* value) {
    extendedFileInfoStruct request;
    request.filename = fileName;
    request.metadata = field;
    request.ret = const_cast<char*>(value);  // the host only reads ret on a set
    request.retlen = 0;
    return askHost(reinterpret_cast<WPARAM>(&request), IPC_SET_EXTENDED_FILE_INFO);
}

bool writeArtist(const char* fileName, const char* value, int listIndex) {
    if (SetExtendedFileInfo(fileName, artistField, value) == 0) return false;
    askHost(static_cast<WPARAM>(listIndex), IPC_WRITE_EXTENDED_FILE_INFO);
    return true;
}

int setArtist(const char* fileName, const char* value, int listIndex) {
    writeArtist(fileName, value, listIndex);
    return 0;
}
