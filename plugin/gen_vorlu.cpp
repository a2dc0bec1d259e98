#include "plugin/gen_vorlu.h"

#include "host/requests.h"
#include "stamping/file_claims.h"
#include "stamping/journal.h"
#include "stamping/repair.h"
#include "stamping/watcher.h"
#include "stamping/worker.h"
#include "trackinfo/track_metadata.h"

static const char description[] = "Vorlu v1.0 (gen_vorlu.dll)";
static const char configNotice[] = "There is no current configuration settings. Please edit the source of Vorlu.";

winampGeneralPurposePlugin plugin = {GPPHDR_VER, description, init, config, quit, 0, 0};
WNDPROC lpWinampWndProcOld = 0;
WNDPROC lpWinampPEWndProcOld = 0;
static HWND playlistEditor = 0;
static LONG volatile messagesBeingPassedOn;

extern "C" VORLU_EXPORT winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() { return &plugin; }

static WNDPROC subclass(HWND window, WNDPROC procedure) {
    return reinterpret_cast<WNDPROC>(SetWindowLongA(window, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
}

// The folder the host gives plug-ins for their own files, from hosts that have the
// request; null otherwise.
static const char* settingsFolder() {
    if (hostVersion() < HOST_VERSION_SETTINGS_FOLDER) return 0;
    LRESULT folder = askHost(0, IPC_GETINIDIRECTORY);
    return folder >= LOWEST_ANSWER_ADDRESS ? reinterpret_cast<const char*>(folder) : 0;
}

int init() {
    setHostWindow(plugin.hwndParent);
    detectHostVersion();
    initTrackMetadata();
    initFileClaims();
    initWorkers();
    initJournal(settingsFolder());
    startRepair();
    lpWinampWndProcOld = subclass(plugin.hwndParent, WinampWndProc);
    playlistEditor = reinterpret_cast<HWND>(askHost(IPC_GETWND_PE, IPC_GETWND));
    // A host without a playlist editor sends no track-change notices; there is nothing to subclass.
    if (playlistEditor) lpWinampPEWndProcOld = subclass(playlistEditor, WinampPEWndProc);
    return 0;
}

void config() { MessageBoxA(plugin.hwndParent, configNotice, "", MB_OK); }

// Puts the previous procedure back, but only where ours is still the one installed:
// over a procedure installed on top of ours, restoring would cut that one out.
static bool unsubclass(HWND window, WNDPROC ours, WNDPROC previous) {
    if (reinterpret_cast<WNDPROC>(GetWindowLongA(window, GWL_WNDPROC)) != ours) return false;
    subclass(window, previous);
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
    stopWorkers(QUIT_WAIT_MS);
    bool restored = unsubclass(plugin.hwndParent, WinampWndProc, lpWinampWndProcOld);
    if (playlistEditor) restored = unsubclass(playlistEditor, WinampPEWndProc, lpWinampPEWndProcOld) && restored;
    // A host that quits from a message it got through one of our procedures returns into
    // that procedure after unloading us.
    bool insideOurProcedure = InterlockedCompareExchange(&messagesBeingPassedOn, 0, 0) > 0;
    if (!restored || insideOurProcedure) pinLibrary();
}

// Hands a message to the procedure our subclass replaced and returns its result. Both
// replacement procedures end here, so quit can tell whether it runs inside one of them.
static LRESULT passOn(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    InterlockedIncrement(&messagesBeingPassedOn);
    LRESULT result = CallWindowProcA(previous, window, message, wParam, lParam);
    InterlockedDecrement(&messagesBeingPassedOn);
    return result;
}

LRESULT CALLBACK WinampWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return passOn(lpWinampWndProcOld, window, message, wParam, lParam);
}

LRESULT CALLBACK WinampPEWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    watchPlaylistEditorMessage(message, wParam, lParam);
    return passOn(lpWinampPEWndProcOld, window, message, wParam, lParam);
}

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
