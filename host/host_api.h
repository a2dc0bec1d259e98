// The host player's side of the contract: the descriptor it reads, the requests its
// main window answers and the notice its playlist editor window receives.
//
// Requests are synchronous SendMessageA calls to the main window (the descriptor's
// hwndParent): message WM_WA_IPC, the request's wParam, the request code as lParam;
// the answer is the return value. They may be sent from any thread; the host answers
// them on the thread that owns its windows, and only while that thread pumps messages.
// Answers carrying a time, a length or an index are signed 32-bit values.
//
// A host answers 1 to a request it does not know, so a non-zero answer proves nothing:
// the wide requests are asked only of a host whose version has them.
#ifndef VORLU_HOST_HOST_API_H
#define VORLU_HOST_HOST_API_H

#include <windows.h>
#include <stddef.h>

const UINT WM_WA_IPC = WM_USER;

// Request codes, sent as lParam.
const LPARAM IPC_GETVERSION = 0;       // wParam 0: 0x20yx for version 2.yx, 0x50yx for 5.yx
const LPARAM IPC_ISPLAYING = 104;      // wParam 0: 1 playing, 3 paused, 0 stopped
const LPARAM IPC_GETOUTPUTTIME = 105;  // wParam 0: position in ms (negative when stopped); 1: length in s
const LPARAM IPC_JUMPTOTIME = 106;     // wParam a position in ms: 0 when done, -1 when nothing plays
const LPARAM IPC_GETLISTPOS = 125;     // wParam 0: index of the current entry
const LPARAM IPC_UPDTITLE = 243;       // the current entry's title read again at the display timer's next tick
// Marks playlist entries to have their titles read again from their files when next shown:
// from 5.3 those whose file name begins with the wParam's UTF-16 text (any case), else
// (wParam 0, or an older host) every entry. Answers 0.
const LPARAM IPC_REFRESHPLCACHE = 247;
const LPARAM IPC_GETPLAYLISTFILE = 211;         // wParam index: address of the entry's file name
const LPARAM IPC_GETPLAYLISTFILEW = 214;        // wParam index: address of the entry's file name in UTF-16
const LPARAM IPC_GETWND = 260;                  // wParam IPC_GETWND_PE: the playlist editor window
const LPARAM IPC_GET_EXTENDED_FILE_INFO = 290;  // wParam record address: non-zero when ret holds the value
const LPARAM IPC_SET_EXTENDED_FILE_INFO = 294;  // wParam record address: non-zero when the value was accepted
// wParam an index, which the host ignores: writes the one pending set (a set for another
// file drops the one before); non-zero when written, 0 when the write failed or none was pending.
const LPARAM IPC_WRITE_EXTENDED_FILE_INFO = 295;
const LPARAM IPC_GETINIDIRECTORY = 335;  // wParam 0: address of the folder for plug-ins' own files
// wParam 0: the same folder in UTF-16; through the system code page, 335's may hold '?'.
const LPARAM IPC_GETINIDIRECTORYW = 1335;
// wParam 0: play tracking off, else on (it is on unless someone turned it off). While it is
// on, every start of playback counts as a play: the media library counts it, the history
// records it, every window hears of a new song. While it is off, the play button from
// stopped plays again the file that played last.
const LPARAM IPC_ALLOW_PLAYTRACKING = 3007;
const LPARAM IPC_GET_EXTENDED_FILE_INFOW = 3026;  // as 290, with the wide record
const LPARAM IPC_SET_EXTENDED_FILE_INFOW = 3028;  // as 294, with the wide record
// Sent by the host to its own main window on WM_CLOSE, through every subclass: a non-zero
// answer lets the exit go on. Passed on untouched.
const LPARAM IPC_HOOK_OKTOQUIT = 3010;

// The status callback: the host posts WM_WA_IPC with this lParam to its own main window at
// the end of every start of playback, every stop, every pause and every resume, its own
// restarts at a write included, with wParam IPC_CB_MISC_STATUS; from 5.65 it also posts
// IPC_CB_MISC_PAUSE right after a pause and IPC_CB_MISC_UNPAUSE right after a resume. It
// is posted: it arrives once the change is complete, and IPC_ISPLAYING tells the new state.
// The host does nothing with it itself; every subclass passes it on.
const LPARAM IPC_CB_MISC = 603;
const WPARAM IPC_CB_MISC_STATUS = 2;
const WPARAM IPC_CB_MISC_PAUSE = 7;
const WPARAM IPC_CB_MISC_UNPAUSE = 8;

// The first versions with the wide requests (5.13), with IPC_GETINIDIRECTORY (2.9),
// with IPC_GETINIDIRECTORYW (5.58), with IPC_REFRESHPLCACHE (2.2) and its file name
// (5.3), with IPC_ALLOW_PLAYTRACKING and the status callback (5.0) and its pause and
// resume callbacks (5.65); and the bound below which an answer to IPC_GETVERSION is taken
// as a version at all.
const LRESULT HOST_VERSION_WIDE_REQUESTS = 0x5013;
const LRESULT HOST_VERSION_REFRESH_PLAYLIST = 0x2020;
const LRESULT HOST_VERSION_REFRESH_BY_NAME = 0x5030;
const LRESULT HOST_VERSION_PLAY_TRACKING = 0x5000;
const LRESULT HOST_VERSION_STATUS_CALLBACK = 0x5000;
const LRESULT HOST_VERSION_PAUSE_CALLBACKS = 0x5065;
const LRESULT HOST_VERSION_SETTINGS_FOLDER = 0x2090;
const LRESULT HOST_VERSION_WIDE_SETTINGS_FOLDER = 0x5058;
const LRESULT HOST_VERSION_LIMIT = 0x10000;
// No answer below this is an address: the first 64 KiB of a process are never mapped.
const LRESULT LOWEST_ANSWER_ADDRESS = 0x10000;

const LRESULT HOST_PLAYING = 1;
const LRESULT HOST_PAUSED = 3;
const LRESULT HOST_STOPPED = 0;

// The player's buttons, sent to its main window as WM_COMMAND with the id as wParam.
const WPARAM HOST_BUTTON_PLAY = 40045;   // unpauses when paused; else starts the current entry from 0
const WPARAM HOST_BUTTON_PAUSE = 40046;  // pauses while playing, unpauses while paused
const WPARAM HOST_BUTTON_STOP = 40047;

const WPARAM IPC_GETOUTPUTTIME_POSITION_MS = 0;
const WPARAM IPC_GETOUTPUTTIME_LENGTH_S = 1;
const WPARAM IPC_GETWND_PE = 1;

// Track-change notice, sent to the playlist editor window: WM_USER, wParam 666, lParam
// the entry's index. Bit 30 is set only when the host's title update sends it (a moment
// after each start of playback, after each write of the playing file, and now and then
// while an entry plays); the notices at the start and stop themselves carry no bit 30.
// No other bit of lParam carries meaning for us.
const UINT TRACK_CHANGE_MESSAGE = WM_USER;
const WPARAM TRACK_CHANGE_WPARAM = 666;
const LPARAM TRACK_CHANGE_LPARAM_BIT = 0x40000000;

// One metadata read or set. For a read, ret receives the value, NUL-terminated within
// retlen bytes; for a set, ret holds the new value and retlen is 0.
struct extendedFileInfoStruct {
    const char* filename;
    const char* metadata;
    char* ret;
    size_t retlen;
};

// UTF-16 text as the wide requests carry it. The host's type is wchar_t, the same two
// bytes on Windows; char16_t keeps them two bytes in the native test build too.
typedef char16_t hostWideChar;

// The wide form of the record: names and value in UTF-16, retlen counted in characters.
// Before a read the host clears retlen *bytes* of ret, not characters.
struct extendedFileInfoStructW {
    const hostWideChar* filename;
    const hostWideChar* metadata;
    hostWideChar* ret;
    size_t retlen;
};

const int GPPHDR_VER = 0x10;

// The descriptor returned by the plug-in's one export. The host fills hwndParent and
// hDllInstance before calling init, then calls config on request and quit at shut-down,
// all on the thread that owns its windows.
struct winampGeneralPurposePlugin {
    int version;
    const char* description;
    int (*init)();
    void (*config)();
    void (*quit)();
    HWND hwndParent;
    HINSTANCE hDllInstance;
};

#if defined(_WIN32) && !defined(_WIN64)
// The host reads these records by offset: seven and four 32-bit fields, in this order.
static_assert(offsetof(winampGeneralPurposePlugin, version) == 0, "descriptor layout");
static_assert(offsetof(winampGeneralPurposePlugin, description) == 4, "descriptor layout");
static_assert(offsetof(winampGeneralPurposePlugin, init) == 8, "descriptor layout");
static_assert(offsetof(winampGeneralPurposePlugin, config) == 12, "descriptor layout");
static_assert(offsetof(winampGeneralPurposePlugin, quit) == 16, "descriptor layout");
static_assert(offsetof(winampGeneralPurposePlugin, hwndParent) == 20, "descriptor layout");
static_assert(offsetof(winampGeneralPurposePlugin, hDllInstance) == 24, "descriptor layout");
static_assert(sizeof(winampGeneralPurposePlugin) == 28, "descriptor layout");
static_assert(offsetof(extendedFileInfoStruct, filename) == 0, "record layout");
static_assert(offsetof(extendedFileInfoStruct, metadata) == 4, "record layout");
static_assert(offsetof(extendedFileInfoStruct, ret) == 8, "record layout");
static_assert(offsetof(extendedFileInfoStruct, retlen) == 12, "record layout");
static_assert(sizeof(extendedFileInfoStruct) == 16, "record layout");
static_assert(sizeof(hostWideChar) == sizeof(wchar_t), "UTF-16 units as the host's wchar_t");
static_assert(offsetof(extendedFileInfoStructW, filename) == 0, "wide record layout");
static_assert(offsetof(extendedFileInfoStructW, metadata) == 4, "wide record layout");
static_assert(offsetof(extendedFileInfoStructW, ret) == 8, "wide record layout");
static_assert(offsetof(extendedFileInfoStructW, retlen) == 12, "wide record layout");
static_assert(sizeof(extendedFileInfoStructW) == 16, "wide record layout");
#endif

#endif
