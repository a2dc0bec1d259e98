#include "trackinfo/track_metadata.h"

#include "host/requests.h"
#include "trackinfo/time_text.h"

#include <string.h>

// The only field the plug-in touches, on either path.
static const char artistField[] = "ARTIST";
static const textUnit wideArtistField[] = u"ARTIST";

// Where a single-byte read lands. Reads are made in steps only, one at a time, and each
// is copied out before its step ends.
static char metadata[METADATA_SIZE];

// Windows' file systems tell names apart ordinally, ignoring case as the invariant upper
// case has it.
static textUnit upperCase(textUnit unit) {
    WCHAR upper = static_cast<WCHAR>(unit);
    const WCHAR original = upper;
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &original, 1, &upper, 1);
    return static_cast<textUnit>(upper);
}

static bool sameNameIgnoringCase(const textUnit* a, const textUnit* b) {
    while (*a != 0 && (*a == *b || upperCase(*a) == upperCase(*b))) {
        a++;
        b++;
    }
    return *a == 0 && *b == 0;
}

bool nameInUtf16(const textUnit* name, bool wide, textUnit* out) {
    if (wide) {
        copyText(out, WIDE_TEXT_SIZE, name);
        return true;
    }
    char bytes[FILE_NAME_SIZE];
    bytesFromUnits(bytes, FILE_NAME_SIZE, name);
    return MultiByteToWideChar(CP_ACP, 0, bytes, -1, reinterpret_cast<LPWSTR>(out), WIDE_TEXT_SIZE) > 0;
}

bool sameFileName(const TrackFile& a, const TrackFile& b) {
    if (a.wide != b.wide) return false;
    if (a.wide) return sameNameIgnoringCase(a.name, b.name);
    textUnit wideA[WIDE_TEXT_SIZE], wideB[WIDE_TEXT_SIZE];
    if (!nameInUtf16(a.name, false, wideA) || !nameInUtf16(b.name, false, wideB)) return sameText(a.name, b.name);
    return sameNameIgnoringCase(wideA, wideB);
}

// FNV-1a over the upper case of each unit, from seed.
static unsigned long long upperCaseHash(const textUnit* name, unsigned long long seed) {
    for (; *name != 0; name++) seed = (seed ^ upperCase(*name)) * 1099511628211ULL;
    return seed;
}

unsigned long long fileNameHash(const TrackFile& file) {
    if (file.wide) return upperCaseHash(file.name, 14695981039346656037ULL);
    // As sameFileName reads a single-byte name: through the code page, else byte for byte.
    textUnit wide[WIDE_TEXT_SIZE];
    return upperCaseHash(nameInUtf16(file.name, false, wide) ? wide : file.name, 1099511628211ULL);
}

static LRESULT askName(LPARAM code) {
    int index = askHostInt(0, IPC_GETLISTPOS);
    LRESULT name = askHost(static_cast<WPARAM>(index), code);
    return name < LOWEST_ANSWER_ADDRESS && code == IPC_GETPLAYLISTFILEW ? 0 : name;
}

int GetFileNameW(textUnit* out, int size) {
    const textUnit* name = reinterpret_cast<const textUnit*>(askName(IPC_GETPLAYLISTFILEW));
    int length = name ? textLength(name, size) : -1;
    for (int i = 0; i < length && length < size; i++) out[i] = name[i];
    out[length >= 0 && length < size ? length : 0] = 0;
    return length;
}

bool isCurrentFile(const TrackFile& file) {
    TrackFile current;
    readCurrentFile(&current);
    return sameFileName(current, file);
}

void readCurrentFile(TrackFile* file) {
    memset(file, 0, sizeof *file);
    // A host with the wide requests converts between its input plug-ins' wide and
    // single-byte entries: where its wide name or value fails, the single-byte one fails
    // too. Its files go the wide way only.
    if (hostVersion() >= HOST_VERSION_WIDE_REQUESTS) {
        file->wide = true;
        GetFileNameW(file->name, WIDE_TEXT_SIZE);
        return;
    }
    // The single-byte name (null: none), cut to FILE_NAME_SIZE.
    const char* name = reinterpret_cast<const char*>(askName(IPC_GETPLAYLISTFILE));
    if (name) unitsFromBytes(file->name, FILE_NAME_SIZE, name);
}

int readArtist(const TrackFile& file, textUnit* out, int size) {
    if (file.wide) {
        // The host clears retlen bytes, half of the buffer: the rest is cleared here.
        memset(out, 0, static_cast<size_t>(size) * sizeof *out);
        extendedFileInfoStructW request = {file.name, wideArtistField, out, static_cast<size_t>(size)};
        if (askHost(reinterpret_cast<WPARAM>(&request), IPC_GET_EXTENDED_FILE_INFOW) == 0) return -1;
        int length = textLength(out, size);
        return length < size ? length : -1;
    }
    char name[FILE_NAME_SIZE];
    bytesFromUnits(name, sizeof name, file.name);
    extendedFileInfoStruct request = {name, artistField, metadata, sizeof metadata};
    if (askHost(reinterpret_cast<WPARAM>(&request), IPC_GET_EXTENDED_FILE_INFO) == 0) return -1;
    // A host that left no terminator within the buffer is read only up to its end.
    int length = static_cast<int>(strnlen(metadata, METADATA_SIZE));
    if (length >= size || length >= METADATA_SIZE) return -1;
    unitsFromBytes(out, size, metadata);
    return length;
}

ArtistWrite writeArtist(const TrackFile& file, const textUnit* value, int listIndex) {
    // The host only reads ret on a set.
    LRESULT accepted;
    if (file.wide) {
        extendedFileInfoStructW request = {file.name, wideArtistField, const_cast<textUnit*>(value), 0};
        accepted = askHost(reinterpret_cast<WPARAM>(&request), IPC_SET_EXTENDED_FILE_INFOW);
    } else {
        char name[FILE_NAME_SIZE];
        char bytes[METADATA_SIZE + TIME_TEXT_SIZE];  // a value read on this path and its suffix
        bytesFromUnits(name, sizeof name, file.name);
        bytesFromUnits(bytes, sizeof bytes, value);
        extendedFileInfoStruct request = {name, artistField, bytes, 0};
        accepted = askHost(reinterpret_cast<WPARAM>(&request), IPC_SET_EXTENDED_FILE_INFO);
    }
    if (accepted == 0) return ARTIST_REFUSED;
    // The host answers the input plug-in's write result: 0 when the write failed or nothing
    // was pending.
    LRESULT written = askHost(static_cast<WPARAM>(listIndex), IPC_WRITE_EXTENDED_FILE_INFO);
    return written != 0 ? ARTIST_WRITTEN : ARTIST_NOT_WRITTEN;
}
