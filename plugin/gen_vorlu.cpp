#include "plugin/gen_vorlu.h"

#include "host/requests.h"
#include "stamping/debug_notes.h"
#include "stamping/file_claims.h"
#include "stamping/journal.h"
#include "stamping/plugin_threads.h"
#include "stamping/repair.h"
#include "stamping/watcher.h"
#include "stamping/worker.h"
#include "trackinfo/track_metadata.h"

static const char description[] = "Vorlu v" VORLU_VERSION " (gen_vorlu.dll)";
static const char configNotice[] = "There is no current configuration settings. Please edit the source of Vorlu.";

winampGeneralPurposePlugin plugin = {GPPHDR_VER, description, init, config, quit, 0, 0};
WNDPROC lpWinampWndProcOld = 0;
WNDPROC lpWinampPEWndProcOld = 0;
static HWND playlistEditor = 0;
// Whether each window's procedure was replaced the Unicode way: the host's windows are
// Unicode windows, and a single-byte procedure in their chain would have Windows convert
// every text message through the code page.
static bool mainWindowWide = false;
static bool playlistEditorWide = false;
// Frames of ours on the stack of the thread quit may run on: our window procedures (which
// pass messages on, run steps, or wait for workers taking sent messages in) and config's
// message box. Each may see the host call quit and unload us before it returns: quit then
// keeps the library loaded.
static LONG volatile framesOfOurs;

extern "C" VORLU_EXPORT winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() { return &plugin; }

static WNDPROC subclass(HWND window, WNDPROC procedure, bool wide) {
    LONG_PTR value = reinterpret_cast<LONG_PTR>(procedure);
    return reinterpret_cast<WNDPROC>(wide ? SetWindowLongW(window, GWL_WNDPROC, value)
                                          : SetWindowLongA(window, GWL_WNDPROC, value));
}

// The folder the host gives plug-ins for their own files, from hosts that have the
// request; null otherwise.
static const char* settingsFolder() {
    if (hostVersion() < HOST_VERSION_SETTINGS_FOLDER) return 0;
    LRESULT folder = askHost(0, IPC_GETINIDIRECTORY);
    return folder >= LOWEST_ANSWER_ADDRESS ? reinterpret_cast<const char*>(folder) : 0;
}

// The same folder in UTF-16, from hosts that have the wide request, when it names an
// existing folder; null otherwise.
static const textUnit* wideSettingsFolder() {
    if (hostVersion() < HOST_VERSION_WIDE_SETTINGS_FOLDER) return 0;
    LRESULT folder = askHost(0, IPC_GETINIDIRECTORYW);
    if (folder < LOWEST_ANSWER_ADDRESS) return 0;
    DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(folder));
    bool isFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return isFolder ? reinterpret_cast<const textUnit*>(folder) : 0;
}

int init() {
    setHostWindow(plugin.hwndParent);
    detectHostVersion();
    initSteps();
    initDebugNotes();
    initFileClaims();
    initPluginThreads();
    initWorkers();
    initJournal(wideSettingsFolder(), settingsFolder());
    mainWindowWide = IsWindowUnicode(plugin.hwndParent) != FALSE;
    lpWinampWndProcOld = subclass(plugin.hwndParent, WinampWndProc, mainWindowWide);
    playlistEditor = reinterpret_cast<HWND>(askHost(IPC_GETWND_PE, IPC_GETWND));
    // A host without a playlist editor sends no track-change notices; there is nothing to subclass.
    if (playlistEditor) {
        playlistEditorWide = IsWindowUnicode(playlistEditor) != FALSE;
        lpWinampPEWndProcOld = subclass(playlistEditor, WinampPEWndProc, playlistEditorWide);
    }
    // Its steps go to the windows' thread through the main window's procedure, now ours.
    startRepair();
    return 0;
}

void config() {
    InterlockedIncrement(&framesOfOurs);
    MessageBoxA(plugin.hwndParent, configNotice, "", MB_OK);
    InterlockedDecrement(&framesOfOurs);
}

// Puts the previous procedure back the way ours was installed, but only where ours is
// still the one installed: over a procedure installed on top of ours, restoring would cut
// that one out. A window the host has destroyed already holds nothing of ours.
static bool unsubclass(HWND window, WNDPROC ours, WNDPROC previous, bool wide) {
    if (!IsWindow(window)) return true;
    LONG_PTR installed = wide ? GetWindowLongW(window, GWL_WNDPROC) : GetWindowLongA(window, GWL_WNDPROC);
    if (reinterpret_cast<WNDPROC>(installed) != ours) return false;
    subclass(window, previous, wide);
    return true;
}

// Keeps this library loaded for the life of the process: the host may unload it after
// quit, and code of ours that can still be called must stay in memory.
static void pinLibrary() {
    HMODULE self;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&pinLibrary), &self);
}

// How long quit lets workers write their artists back before it returns.
const DWORD QUIT_WAIT_MS = 2000;

void quit() {
    // With every thread of ours ended, the entries whose write-backs are on disk by now go,
    // and a journal left empty goes too, and its lock file.
    if (stopWorkers(QUIT_WAIT_MS) == 0) {
        journalForgetDue();
        journalLetGo();
    }
    bool restored = unsubclass(plugin.hwndParent, WinampWndProc, lpWinampWndProcOld, mainWindowWide);
    if (playlistEditor)
        restored = unsubclass(playlistEditor, WinampPEWndProc, lpWinampPEWndProcOld, playlistEditorWide) && restored;
    // A host that quits from within a frame of ours returns into it after unloading us.
    bool insideAFrameOfOurs = InterlockedCompareExchange(&framesOfOurs, 0, 0) > 0;
    if (!restored || insideAFrameOfOurs) pinLibrary();
}

// Hands a message to the procedure our subclass replaced and returns its result.
static LRESULT passOn(WNDPROC previous, bool wide, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return wide ? CallWindowProcW(previous, window, message, wParam, lParam)
                : CallWindowProcA(previous, window, message, wParam, lParam);
}

// The host calls quit only after its main window is destroyed (its playlist and input
// plug-ins gone, so no request succeeds any more), or at the end of a Windows session
// after freeing its playlist: the workers write back while it still answers.
static bool hostIsClosing(UINT message, WPARAM wParam) {
    return message == WM_DESTROY || (message == WM_ENDSESSION && wParam != FALSE);
}

LRESULT CALLBACK WinampWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    InterlockedIncrement(&framesOfOurs);
    if (hostIsClosing(message, wParam)) stopWorkers(QUIT_WAIT_MS);
    // A step of ours is ours alone: the host's procedures never see it.
    LRESULT result = 0;
    if (!runStepMessage(message, wParam, lParam)) {
        result = passOn(lpWinampWndProcOld, mainWindowWide, window, message, wParam, lParam);
        watchMainWindowMessage(message, wParam, lParam);
    }
    InterlockedDecrement(&framesOfOurs);
    return result;
}

LRESULT CALLBACK WinampPEWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    InterlockedIncrement(&framesOfOurs);
    watchPlaylistEditorMessage(message, wParam, lParam);
    LRESULT result = passOn(lpWinampPEWndProcOld, playlistEditorWide, window, message, wParam, lParam);
    InterlockedDecrement(&framesOfOurs);
    return result;
}

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
