#include "stamping/file_place.h"

// Units of the root of a path: "X:\" or "\\server\share\"; 0 for any other path.
static int rootLength(const textUnit* path) {
    bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    if (letter && path[1] == ':' && path[2] == '\\') return 3;
    if (path[0] != '\\' || path[1] != '\\' || path[2] == '?' || path[2] == '.') return 0;
    int separators = 0, length = 2;
    while (path[length] != 0 && separators < 2) {
        if (path[length] == '\\') separators++;
        length++;
    }
    return separators == 2 ? length : 0;
}

// The file's name as the system's wide file calls take it: a single-byte name as its
// single-byte calls would read it. False when it cannot be converted.
static bool widePath(const TrackFile& file, textUnit* path) {
    if (file.wide) {
        copyText(path, WIDE_TEXT_SIZE, file.name);
        return true;
    }
    char bytes[FILE_NAME_SIZE];
    bytesFromUnits(bytes, FILE_NAME_SIZE, file.name);
    return MultiByteToWideChar(CP_ACP, 0, bytes, -1, reinterpret_cast<LPWSTR>(path), WIDE_TEXT_SIZE) != 0;
}

static bool exists(const textUnit* path) {
    return GetFileAttributesW(reinterpret_cast<LPCWSTR>(path)) != INVALID_FILE_ATTRIBUTES;
}

// The serial of the volume at root ("X:\" or "\\server\share\").
static bool volumeSerialAt(const textUnit* root, unsigned int* serial) {
    DWORD number = 0;
    if (!GetVolumeInformationW(reinterpret_cast<LPCWSTR>(root), 0, 0, &number, 0, 0, 0, 0)) return false;
    *serial = number;
    return true;
}

bool volumeSerialOf(const TrackFile& file, unsigned int* serial) {
    textUnit path[WIDE_TEXT_SIZE];
    if (!widePath(file, path)) return false;
    int root = rootLength(path);
    path[root] = 0;
    return root > 0 && volumeSerialAt(path, serial);
}

bool onItsVolume(const TrackFile& file, bool volumeKnown, unsigned int serial) {
    unsigned int serialNow = 0;
    return !volumeKnown || (volumeSerialOf(file, &serialNow) && serialNow == serial);
}

Whereabouts whereabouts(const TrackFile& file) {
    textUnit path[WIDE_TEXT_SIZE];
    if (!widePath(file, path)) return FILE_OUT_OF_REACH;
    if (exists(path)) return FILE_THERE;
    DWORD error = GetLastError();
    int root = rootLength(path);
    if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || root == 0) return FILE_OUT_OF_REACH;
    path[root] = 0;
    return exists(path) ? FILE_GONE : FILE_OUT_OF_REACH;
}
