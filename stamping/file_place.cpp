#include "stamping/file_place.h"

// Units of the root of the volume that holds path, as the system names it: "X:\",
// "\\server\share\", or the folder a volume is mounted in ("C:\mnt\stick\"); 0 for a path
// that names no volume, or a device path.
static int rootLength(const textUnit* path) {
    if (path[0] == '\\' && path[1] == '\\' && (path[2] == '?' || path[2] == '.')) return 0;
    textUnit root[WIDE_TEXT_SIZE];
    if (!GetVolumePathNameW(reinterpret_cast<LPCWSTR>(path), reinterpret_cast<LPWSTR>(root), WIDE_TEXT_SIZE)) return 0;
    // The root is a beginning of path, with its trailing backslash.
    int length = textLength(root, WIDE_TEXT_SIZE);
    if (length == 0 || length >= WIDE_TEXT_SIZE || root[length - 1] != '\\') return 0;
    for (int i = 0; i < length - 1; i++) {
        if (path[i] == 0) return 0;
    }
    return length;
}

static bool exists(const textUnit* path) {
    return GetFileAttributesW(reinterpret_cast<LPCWSTR>(path)) != INVALID_FILE_ATTRIBUTES;
}

// The serial of the volume at root, with its trailing backslash.
static bool volumeSerialAt(const textUnit* root, unsigned int* serial) {
    DWORD number = 0;
    if (!GetVolumeInformationW(reinterpret_cast<LPCWSTR>(root), 0, 0, &number, 0, 0, 0, 0)) return false;
    *serial = number;
    return true;
}

bool volumeSerialOf(const TrackFile& file, unsigned int* serial) {
    textUnit path[WIDE_TEXT_SIZE];
    if (!nameInUtf16(file.name, file.wide, path)) return false;
    int root = rootLength(path);
    path[root] = 0;
    return root > 0 && volumeSerialAt(path, serial);
}

// A handle that may write the file at path and shares everything, so that the player's
// own handles go on undisturbed.
static HANDLE openSharingAll(const textUnit* path) {
    return CreateFileW(reinterpret_cast<LPCWSTR>(path), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       0);
}

bool flushToDisk(const TrackFile& file) {
    textUnit path[WIDE_TEXT_SIZE];
    if (!nameInUtf16(file.name, file.wide, path)) return false;
    HANDLE handle = openSharingAll(path);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool flushed = FlushFileBuffers(handle) != FALSE;
    CloseHandle(handle);
    return flushed;
}

WriteBlock writeBlockOf(const TrackFile& file) {
    textUnit path[WIDE_TEXT_SIZE];
    if (!nameInUtf16(file.name, file.wide, path)) return WRITE_NOT_FOUND;
    DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return WRITE_NOT_FOUND;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return WRITE_READ_ONLY;
    HANDLE handle = openSharingAll(path);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return WRITE_NOT_BLOCKED;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? WRITE_HELD : WRITE_READ_ONLY;
}

bool onItsVolume(const TrackFile& file, bool volumeKnown, unsigned int serial) {
    unsigned int serialNow = 0;
    return !volumeKnown || (volumeSerialOf(file, &serialNow) && serialNow == serial);
}

Whereabouts whereabouts(const TrackFile& file) {
    textUnit path[WIDE_TEXT_SIZE];
    if (!nameInUtf16(file.name, file.wide, path)) return FILE_OUT_OF_REACH;
    if (exists(path)) return FILE_THERE;
    DWORD error = GetLastError();
    int root = rootLength(path);
    if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || root == 0) return FILE_OUT_OF_REACH;
    path[root] = 0;
    return exists(path) ? FILE_GONE : FILE_OUT_OF_REACH;
}
