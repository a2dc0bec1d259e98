// The stand-in player: owns a main window and a playlist editor window on its UI thread,
// answers the host requests from the player model, loads gen_vorlu.dll the way the host
// does and plays a playlist by a script, at a speed factor.
//
//   standin_player --plugin gen_vorlu.dll [--playlist FILE] [--script FILE] [--speed N]
//                  [--tags FILE] [--results FILE] [--screenshot FILE.png] [--old-host]
//                  [--settings-dir DIR] [--music-dir DIR] [--quiet]
//
// It answers as a host of version 5.13 or later, with the wide-character requests and
// Unicode windows, or with --old-host as 5.12, which answers 1 to them as to any request
// it does not know and has single-byte windows. Its single-byte answers go through the
// system's code page, '?' for what it cannot hold. It names --settings-dir (by default a
// new folder of the run's own in the temporary folder, named in its output) as the folder
// for plug-ins' files. It keeps each playlist file named with a drive letter as a real,
// empty file under --music-dir (C:\Music\a.mp3 as DIR\C\Music\a.mp3), the name a plug-in
// gets for it, so that a plug-in can open and flush it.
//
// It is as harsh as the real host (see player_model.h): each kind of file is written as
// its input plug-in does; the notices at start and stop carry no bit 30, the title update
// sends one 100 to 500 ms later and sets the main window's caption, and the notices a
// write sends (a flac's title update among them) come from within that request; its
// buttons (WM_COMMAND) start, pause and stop as the host's do; `exit` closes it in the
// host's order (IPC_HOOK_OKTOQUIT, stop, the main window destroyed, its playlist and input
// plug-ins gone, and only then the plug-in's quit); `logoff` ends the session as the host
// does (stop, the playlist freed, quit with the window alive, the input plug-ins shut
// down).
//
// It prints the ARTIST field of a file whenever a committed value changes, and the
// buttons a plug-in presses; writes the stored tags to --tags at every commit (as a file
// on disk would hold them), and every request, commit, notice, change of the play state,
// start of playback (who made it, whether it counted as a play) and check to --results
// for the tests. A stamp that another stand-in still running on the same tags put on a
// file, never this one's own last write, is excused as the two-player limit, in a line of
// its own. Its playlist holds titles and counts plays as the host does (see
// player_model.h); `save-playlist FILE` saves the playlist with its held titles. Its
// windows show the play state and every entry's held title and stored ARTIST, the
// playlist scrolled to the current entry; --screenshot saves them as a PNG at a
// `screenshot` action of the script, or else at the end. `edit I TEXT` sets the ARTIST of
// entry I's file to TEXT as another program would (a tag editor) while it runs, and
// `repeat-one on|off` makes the playing entry start again at its end, or not. Every
// script action is listed in player_files.h.
#include <windows.h>

#include "player_files.h"
#include "player_model.h"
#include "player_view.h"

#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using standin::escapeField;
using standin::FileFaults;

const UINT probeMessage = WM_APP + 7;
// A caption in several scripts, as the host's title update writes it, and a typed letter
// outside every single-byte code page: both must reach the host's procedures unchanged.
const char titleTail[] = " - \u00c1kos \u6771\u4eac \u0395\u03bb\u03bb\u03ac\u03b4\u03b1 \u0416 - Player";
const WPARAM wideProbeChar = 0x6771;
const WPARAM singleByteProbeChar = 'x';
const UINT quitInsideMessage = WM_APP + 9;  // the player quits the plug-in while handling it
const UINT clickMessage = WM_APP + 11;      // an armed click, posted as a plug-in's request was answered
const WPARAM probeWParam = 0x1234;
const LPARAM probeLParam = -0x5678;

LRESULT probeAnswer(UINT message, WPARAM wParam, LPARAM lParam) {
    return static_cast<LRESULT>(message) * 7 + static_cast<LRESULT>(wParam) * 3 + lParam + 11;
}

struct Options {
    std::string plugin;
    std::string playlist = "default_playlist.txt";
    std::string script = "default_script.txt";
    std::string tags;
    std::string results;
    std::string screenshot;
    std::string settingsDir;
    std::string musicDir;
    double speed = 1.0;
    bool quiet = false;
    bool oldHost = false;
};

struct Player {
    Options options;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    standin::PlayerModel model{[this] { return clock(); }};
    std::vector<standin::ScriptAction> script;
    std::size_t nextAction = 0;
    std::map<std::string, std::string> originals;
    HWND mainWindow = nullptr;
    HWND playlistEditor = nullptr;
    HMODULE library = nullptr;
    struct winampGeneralPurposePlugin* descriptor = nullptr;
    std::vector<std::string> checks;
    std::vector<std::string> extraRecords;
    std::mutex debugMutex;
    std::vector<std::string> debugLines;  // the plug-in's debug output, as it came
    DWORD uiThread = GetCurrentThreadId();
    std::set<DWORD> playerThreads;
    std::map<DWORD, HANDLE> pluginThreads;
    int peakExtraThreads = 0;
    int threadsAtQuit = -1;
    // The host repeats the track-change notice now and then while an entry plays.
    std::mt19937 repeatTimes{20261208};
    long long nextRepeatNotice = -1;
    bool quitting = false;
    bool pluginQuit = false;
    bool screenshotTaken = false;
    // on-request: the clicks armed, each for the next request of its code (and wParam, if
    // given) from a plug-in's thread once the one before it came, and the one posted.
    struct ArmedClick {
        int code = 0;
        std::optional<long long> wParam;
        standin::ScriptAction click;
    };
    std::deque<ArmedClick> armedClicks;
    std::optional<standin::ScriptAction> postedClick;
    long long ticks = 0;
    struct {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    } lastProbe[2];
    // What the host's own procedures last saw of WM_SETTEXT (as UTF-8) and WM_CHAR.
    std::string seenText[2];
    WPARAM seenChar[2] = {0, 0};
    bool unicodeWindows = true;
    int titleUpdates = 0;
    std::string titleFailure;
    bool closing = false;  // exit or logoff: quit must find every artist written back
    std::map<std::string, FileFaults> faults;
    std::set<std::string> failingWrites;
    std::optional<std::chrono::steady_clock::time_point> stoppedSince;  // playback stopped then, real time
    std::string hiddenCurrentEntry;  // the first paint of the playlist editor without the current entry
    // What this player last wrote to each file's tag, and its mark beside the tags file while
    // it runs: another running player's stamp is told from its own plug-in's by these.
    std::mutex ownWritesMutex;
    standin::FileMap<std::string> ownWrites;
    HANDLE presence = INVALID_HANDLE_VALUE;
    std::set<std::string> twoPlayerLimit;  // files excused, each said once

    long long clock() const {
        auto elapsed = std::chrono::steady_clock::now() - start;
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() *
                                      options.speed / 1000);
    }

    void check(const std::string& name, bool ok, const std::string& detail = "") {
        checks.push_back("check\t" + name + "\t" + (ok ? "ok" : "fail") + "\t" + escapeField(detail));
        if (!ok) std::printf("FAILED CHECK %s %s\n", name.c_str(), detail.c_str());
    }
    void say(const std::string& text) {
        if (!options.quiet) std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }
};

Player* player = nullptr;

// A new folder of this run's own in the temporary folder: separate runs never share the
// files plug-ins keep there (a journal one run left would be another's to repair).
std::string freshSettingsFolder() {
    wchar_t temporary[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temporary);
    std::string base = standin::utf8FromUtf16(reinterpret_cast<const char16_t*>(temporary)) + "vorlu-settings-" +
                       std::to_string(GetCurrentProcessId());
    for (int n = 0;; ++n) {
        std::string folder = n == 0 ? base : base + "-" + std::to_string(n);
        std::u16string wide = standin::utf16FromUtf8(folder);
        if (CreateDirectoryW(reinterpret_cast<LPCWSTR>(wide.c_str()), nullptr)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot make a settings folder " + folder + " (error " +
                                     std::to_string(GetLastError()) + ")");
    }
}

// The command line's words in UTF-8, read wide: a folder named in any script survives.
std::vector<std::string> commandLineWords() {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i)
        result.push_back(standin::utf8FromUtf16(reinterpret_cast<const char16_t*>(words[i])));
    LocalFree(words);
    return result;
}

// The system's code page as the host uses it for its single-byte answers.
standin::CodePage systemCodePage() {
    auto fromUtf16 = [](const std::u16string& text) {
        const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
        int length = static_cast<int>(text.size());
        int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, "?", nullptr);
        std::string bytes(static_cast<std::size_t>(size), '\0');
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, bytes.data(), size, "?", nullptr);
        return bytes;
    };
    auto toUtf16 = [](const std::string& bytes) {
        int length = static_cast<int>(bytes.size());
        int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
        std::u16string text(static_cast<std::size_t>(size), u'\0');
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, reinterpret_cast<wchar_t*>(text.data()), size);
        return text;
    };
    return standin::CodePage{fromUtf16, toUtf16};
}

std::string timeLabel(long long ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", ms / 60000, ms / 1000 % 60, ms / 100 % 10);
    return text;
}

std::vector<DWORD> processThreadIds() {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ids.push_back(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return ids;
}

// Threads beyond the player's own are the plug-in's. Each one seen keeps a handle open,
// so that its CPU time can be read after it has ended. Returns how many run now.
int watchPluginThreads() {
    Player& p = *player;
    int running = 0;
    for (DWORD id : processThreadIds()) {
        if (p.playerThreads.count(id)) continue;
        ++running;
        if (!p.pluginThreads.count(id)) p.pluginThreads[id] = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    }
    return running;
}

long long pluginThreadCpuMs() {
    long long total = 0;  // in 100 ns
    for (const auto& [id, thread] : player->pluginThreads) {
        FILETIME created, exited, kernel, user;
        if (!thread || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) continue;
        for (const FILETIME& time : {kernel, user})
            total += static_cast<long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
    }
    return total / 10000;
}

void quitPlugin();

// Paints a window's client area with one of the views; true when message was WM_PAINT.
bool paintWith(void (*view)(HDC, const RECT&, standin::PlayerModel&), HWND window, UINT message) {
    if (message != WM_PAINT) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    view(dc, client, player->model);
    EndPaint(window, &paint);
    return true;
}

LRESULT defaultProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return IsWindowUnicode(window) ? DefWindowProcW(window, message, wParam, lParam)
                                   : DefWindowProcA(window, message, wParam, lParam);
}

// Text as a window of this player carries it: UTF-16 in a Unicode window, else the code page.
std::string windowTextAsUtf8(const void* text) {
    if (player->unicodeWindows) return standin::utf8FromUtf16(reinterpret_cast<const char16_t*>(text));
    return standin::utf8FromUtf16(systemCodePage().toUtf16(static_cast<const char*>(text)));
}

// Records what reached the host's own procedure of window number i.
void noteText(int i, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) player->seenText[i] = windowTextAsUtf8(reinterpret_cast<const void*>(lParam));
    if (message == WM_CHAR) player->seenChar[i] = wParam;
}

void closeHost();
void endSession();
void playbackNotice();
void repaintWindows();

// A plug-in's thread sent request code: the click armed for it is posted behind it, as a
// click made meanwhile waits in the queue until the step that sent the request ends.
void postArmedClick(WPARAM wParam, LPARAM code) {
    Player& p = *player;
    if (p.armedClicks.empty() || p.postedClick) return;
    const auto& armed = p.armedClicks.front();
    if (armed.code != code || (armed.wParam && *armed.wParam != static_cast<LONG>(wParam))) return;
    p.postedClick = armed.click;
    p.armedClicks.pop_front();
    PostMessageW(p.mainWindow, clickMessage, 0, 0);
}

// "CODE[/WPARAM] ACTION [ARGUMENT]": arms a click for the next such request of a plug-in's thread.
void armClick(const std::string& argument) {
    std::istringstream words(argument);
    std::string request;
    Player::ArmedClick armed;
    if (!(words >> request >> armed.click.action)) throw std::runtime_error("on-request needs a code and an action");
    std::getline(words >> std::ws, armed.click.argument);
    std::size_t slash = request.find('/');
    armed.code = std::stoi(request.substr(0, slash));
    if (slash != std::string::npos) armed.wParam = std::stoll(request.substr(slash + 1));
    player->armedClicks.push_back(armed);
}

bool isButton(WPARAM id) { return id == HOST_BUTTON_PLAY || id == HOST_BUTTON_PAUSE || id == HOST_BUTTON_STOP; }

// A button of the player's, pressed by a plug-in, the script or the host itself: a start
// sends its notice (the title update's follows from tick), a stop its own.
void pressButton(WPARAM id, standin::Starter by = standin::Starter::Listener) {
    standin::PlayerModel& model = player->model;
    bool wasActive = model.state() != standin::PlayState::Stopped;
    if (model.command(id, by) || (wasActive && model.state() == standin::PlayState::Stopped)) playbackNotice();
    repaintWindows();
}

LRESULT CALLBACK mainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The status callback the player posts to itself: it does nothing with it.
    if (message == WM_USER && lParam == IPC_CB_MISC) return 0;
    if (message == WM_USER) {
        LRESULT answer = player->model.answer(wParam, lParam);
        if (InSendMessage()) postArmedClick(wParam, lParam);
        return answer;
    }
    if (message == WM_COMMAND && isButton(LOWORD(wParam))) {
        // Only a plug-in presses them here: the script and the player's exit call pressButton.
        const char* names[] = {"play", "pause", "stop"};
        player->say("[" + timeLabel(player->clock()) + "] " + names[LOWORD(wParam) - HOST_BUTTON_PLAY] +
                    " button pressed by a plug-in");
        pressButton(LOWORD(wParam), standin::Starter::Plugin);
        return 0;
    }
    if (paintWith(standin::paintMainView, window, message)) return 0;
    noteText(0, message, wParam, lParam);
    if (message == WM_CLOSE) {
        closeHost();
        return 0;
    }
    if (message == WM_DESTROY) {
        // The host frees its playlist and shuts its input plug-ins down; its loop then ends.
        player->model.freePlaylist();
        player->model.shutDown();
        player->quitting = true;
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_ENDSESSION && wParam) {
        endSession();
        return 0;
    }
    if (message == quitInsideMessage) {
        // This message came through the plug-in's procedure, which it returns into afterwards.
        quitPlugin();
        player->quitting = true;
        return 0;
    }
    if (message == probeMessage) {
        player->lastProbe[0] = {message, wParam, lParam};
        return probeAnswer(message, wParam, lParam);
    }
    return defaultProcedure(window, message, wParam, lParam);
}

// A list longer than the editor's rows must still show the current entry.
void paintPlaylistEditor(HDC dc, const RECT& area, standin::PlayerModel& model) {
    standin::ShownEntries shown = standin::paintPlaylistView(dc, area, model);
    std::size_t current = static_cast<std::size_t>(shown.current);
    if (shown.current >= 0 && (current < shown.first || current >= shown.first + shown.count) &&
        player->hiddenCurrentEntry.empty())
        player->hiddenCurrentEntry = "entry " + std::to_string(current + 1) + " not among entries " +
                                     std::to_string(shown.first + 1) + " to " +
                                     std::to_string(shown.first + shown.count);
}

LRESULT CALLBACK editorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (paintWith(paintPlaylistEditor, window, message)) return 0;
    noteText(1, message, wParam, lParam);
    if (message == probeMessage) {
        player->lastProbe[1] = {message, wParam, lParam};
        return probeAnswer(message, wParam, lParam);
    }
    return defaultProcedure(window, message, wParam, lParam);
}

// A window whose client area is width x height, at top, owned by owner; a Unicode window
// unless the player plays the old host.
HWND makeWindow(const char* className, const char* title, WNDPROC procedure, int top, int height, HWND owner) {
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, standin::mainViewWidth, height};
    AdjustWindowRect(&frame, style, FALSE);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND window;
    if (player->unicodeWindows) {
        std::u16string wideClass = standin::utf16FromUtf8(className), wideTitle = standin::utf16FromUtf8(title);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = reinterpret_cast<LPCWSTR>(wideClass.c_str());
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        RegisterClassW(&windowClass);
        window = CreateWindowW(windowClass.lpszClassName, reinterpret_cast<LPCWSTR>(wideTitle.c_str()), style, 40, top,
                               frame.right - frame.left, frame.bottom - frame.top, owner, nullptr, instance, nullptr);
    } else {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = className;
        windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
        RegisterClassA(&windowClass);
        window = CreateWindowA(className, title, style, 40, top, frame.right - frame.left, frame.bottom - frame.top,
                               owner, nullptr, instance, nullptr);
    }
    if (window) ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
}

// Sets a window's text as the host does (SetWindowTextW in its Unicode windows) and tells
// whether the host's own procedure got it, and reads it back, unchanged. The old host's
// single-byte windows carry only what the code page holds.
bool textSurvives(int i, HWND window, const std::string& utf8, std::string* why) {
    std::string expected = utf8;
    if (player->unicodeWindows) {
        std::u16string text = standin::utf16FromUtf8(utf8);
        SetWindowTextW(window, reinterpret_cast<LPCWSTR>(text.c_str()));
        // Room for one unit more than was set: a text cut or lengthened reads back different.
        std::u16string back(text.size() + 2, u'\0');
        back.resize(static_cast<std::size_t>(
            GetWindowTextW(window, reinterpret_cast<LPWSTR>(back.data()), static_cast<int>(back.size()))));
        *why = "seen \"" + player->seenText[i] + "\", read back \"" + standin::utf8FromUtf16(back) + "\"";
        return player->seenText[i] == expected && back == text;
    }
    std::string bytes = systemCodePage().fromUtf16(standin::utf16FromUtf8(utf8));
    expected = standin::utf8FromUtf16(systemCodePage().toUtf16(bytes));
    SetWindowTextA(window, bytes.c_str());
    std::string back(bytes.size() + 2, '\0');
    back.resize(static_cast<std::size_t>(GetWindowTextA(window, back.data(), static_cast<int>(back.size()))));
    *why = "seen \"" + player->seenText[i] + "\", read back \"" + back + "\"";
    return player->seenText[i] == expected && bytes == back;
}

// A typed letter, sent as the system sends it to the window's kind, reaches the host's procedure unchanged.
bool charSurvives(int i, HWND window) {
    player->seenChar[i] = 0;
    WPARAM typed = player->unicodeWindows ? wideProbeChar : singleByteProbeChar;
    if (player->unicodeWindows)
        SendMessageW(window, WM_CHAR, typed, 1);
    else
        SendMessageA(window, WM_CHAR, typed, 1);
    return player->seenChar[i] == typed;
}

// Both windows' text and a typed letter, at a moment of the run.
void probeText(const std::string& when) {
    HWND windows[2] = {player->mainWindow, player->playlistEditor};
    const char* names[2] = {"main", "editor"};
    for (int i = 0; i < 2; ++i) {
        std::string why;
        bool ok = textSurvives(i, windows[i], std::string(names[i]) + titleTail, &why);
        player->check(std::string("text_survives_") + names[i] + "_" + when, ok, why);
        player->check(std::string("char_survives_") + names[i] + "_" + when, charSurvives(i, windows[i]));
    }
}

void takeScreenshot() {
    Player& p = *player;
    if (p.options.screenshot.empty()) return;
    standin::saveScreenshot(p.options.screenshot, p.model);
    p.screenshotTaken = true;
    p.say("screenshot saved to " + p.options.screenshot);
}

void repaintWindows() {
    InvalidateRect(player->mainWindow, nullptr, FALSE);
    InvalidateRect(player->playlistEditor, nullptr, FALSE);
}

// Sends a probe to both windows: each must reach our own procedure with its values and
// bring back its answer, through whatever procedures are installed in front.
void probeWindows(const std::string& when) {
    HWND windows[2] = {player->mainWindow, player->playlistEditor};
    const char* names[2] = {"main", "editor"};
    for (int i = 0; i < 2; ++i) {
        player->lastProbe[i] = {};
        LRESULT answer = SendMessageA(windows[i], probeMessage, probeWParam, probeLParam);
        auto& seen = player->lastProbe[i];
        bool ok = answer == probeAnswer(probeMessage, probeWParam, probeLParam) && seen.message == probeMessage &&
                  seen.wParam == probeWParam && seen.lParam == probeLParam;
        player->check(std::string("messages_pass_") + names[i] + "_" + when, ok);
    }
}

void sendNotice(LPARAM lParam, bool fromRequest = false) {
    player->extraRecords.push_back("notice\t" + std::to_string(player->clock()) + "\t" + std::to_string(lParam) +
                                   (fromRequest ? "\trequest" : ""));
    SendMessageA(player->playlistEditor, TRACK_CHANGE_MESSAGE, TRACK_CHANGE_WPARAM, lParam);
    repaintWindows();  // each notice comes with a change of playback
}

// The host's title update: the caption of the main window, then the notice with bit 30.
void titleUpdate(LPARAM lParam, bool fromRequest = false) {
    Player& p = *player;
    int index = static_cast<int>(lParam & ~TRACK_CHANGE_LPARAM_BIT);
    const auto& list = p.model.playlist();
    std::string artist = index < static_cast<int>(list.size()) ? list[static_cast<std::size_t>(index)].artist : "";
    std::string why;
    ++p.titleUpdates;
    p.model.titleUpdate();
    if (!textSurvives(0, p.mainWindow, std::to_string(index + 1) + ". " + artist + titleTail, &why) ||
        !charSurvives(0, p.mainWindow))
        p.titleFailure = why;
    sendNotice(lParam, fromRequest);
}

// A notice the host sends from within a request (a write's stop and restart, a flac's
// title update), at once and from within it, as the host does.
void noticeFromRequest(LPARAM lParam) {
    if (lParam & TRACK_CHANGE_LPARAM_BIT)
        titleUpdate(lParam, true);
    else
        sendNotice(lParam, true);
}

// A start or a stop of playback: its notice at once, without bit 30. After a start the
// title update's follows.
void playbackNotice() { sendNotice(player->model.currentIndex()); }

// A path as a shell user means it: a relative one from the current folder (LoadLibrary
// would look beside this program first for --plugin), in any script.
std::u16string fullPath(const std::string& path) {
    std::u16string named = standin::utf16FromUtf8(path);
    auto* name = reinterpret_cast<LPCWSTR>(named.c_str());
    std::u16string full(GetFullPathNameW(name, 0, nullptr, nullptr), u'\0');
    full.resize(
        GetFullPathNameW(name, static_cast<DWORD>(full.size()), reinterpret_cast<LPWSTR>(full.data()), nullptr));
    return full;
}

// The plug-in's debug output (OutputDebugString), as a debug-output viewer reads it while
// no debugger is attached: through the shared buffer DBWIN_BUFFER and its two events. The
// player prints the lines of its own process as they come, so a user of the stand-in sees
// why a file plays unstamped; they come in the system code page.
void listenToDebugOutput() {
    const DWORD size = 4096;
    CreateMutexW(nullptr, FALSE, L"DBWinMutex");
    HANDLE bufferReady = CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY");
    HANDLE dataReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, L"DBWIN_BUFFER");
    const char* view = mapping ? static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size)) : nullptr;
    if (!bufferReady || !dataReady || !view) return;
    std::thread([=] {
        int passes = 0;
        while (WaitForSingleObject(dataReady, INFINITE) == WAIT_OBJECT_0) {
            DWORD process;
            std::memcpy(&process, view, sizeof process);
            std::string line(view + sizeof process, strnlen(view + sizeof process, size - sizeof process));
            // Another player's line, which its own reader (two players run at once) takes: passed on
            // a few times, then let go.
            if (process != GetCurrentProcessId() && ++passes < 50) {
                Sleep(1);
                SetEvent(dataReady);
                continue;
            }
            passes = 0;
            SetEvent(bufferReady);
            if (process != GetCurrentProcessId()) continue;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            player->say("debug output: " + line);
            std::lock_guard<std::mutex> lock(player->debugMutex);
            player->debugLines.push_back(line);
        }
    }).detach();
}

void loadPlugin() {
    Player& p = *player;
    std::u16string file = fullPath(p.options.plugin);
    p.library = LoadLibraryW(reinterpret_cast<LPCWSTR>(file.c_str()));
    if (!p.library)
        throw std::runtime_error("cannot load " + standin::utf8FromUtf16(file) + " (error " +
                                 std::to_string(GetLastError()) + ")");
    using GetPlugin = winampGeneralPurposePlugin* (*)();
    auto get = reinterpret_cast<GetPlugin>(
        reinterpret_cast<void*>(GetProcAddress(p.library, "winampGetGeneralPurposePlugin")));
    if (!get) throw std::runtime_error("no winampGetGeneralPurposePlugin export in " + p.options.plugin);
    p.descriptor = get();
    p.check("descriptor_same_each_call", get() == p.descriptor);
    p.check("descriptor_version", p.descriptor->version == GPPHDR_VER, std::to_string(p.descriptor->version));
    p.extraRecords.push_back(std::string("description\t") + escapeField(p.descriptor->description));
    p.say("plug-in loaded from " + standin::utf8FromUtf16(file) + ": " + p.descriptor->description);

    auto mainBefore = GetWindowLongPtrW(p.mainWindow, GWLP_WNDPROC);
    auto editorBefore = GetWindowLongPtrW(p.playlistEditor, GWLP_WNDPROC);
    probeText("before_init");
    p.descriptor->hwndParent = p.mainWindow;
    p.descriptor->hDllInstance = p.library;
    p.descriptor->init();
    p.check("init_subclasses_main", GetWindowLongPtrW(p.mainWindow, GWLP_WNDPROC) != mainBefore);
    p.check("init_subclasses_editor", GetWindowLongPtrW(p.playlistEditor, GWLP_WNDPROC) != editorBefore);
    p.check("windows_stay_unicode", (IsWindowUnicode(p.mainWindow) != FALSE) == p.unicodeWindows &&
                                        (IsWindowUnicode(p.playlistEditor) != FALSE) == p.unicodeWindows);
    probeWindows("after_init");
    probeText("after_init");
}

BOOL CALLBACK findDialog(HWND window, LPARAM found) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770") return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// A window's whole text, however long, in the code page.
std::string windowTextA(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Runs config on this thread, as the host does; a helper finds the box it shows, reads
// it and presses its button.
void configPlugin() {
    Player& p = *player;
    struct Seen {
        HWND box = nullptr;
        HWND owner = nullptr;
        std::string text, caption;
        int buttons = 0;
    } seen;
    std::thread presser([&] {
        for (int attempt = 0; attempt < 500 && !seen.box; ++attempt) {
            EnumThreadWindows(p.uiThread, findDialog, reinterpret_cast<LPARAM>(&seen.box));
            if (!seen.box) Sleep(10);
        }
        if (!seen.box) return;
        seen.caption = windowTextA(seen.box);
        seen.owner = GetWindow(seen.box, GW_OWNER);
        HWND button = nullptr;
        for (HWND child = GetWindow(seen.box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            char className[16] = {};
            GetClassNameA(child, className, sizeof className);
            if (std::string(className) == "Button") {
                ++seen.buttons;
                button = child;
            } else if (std::string(className) == "Static" && !windowTextA(child).empty()) {
                seen.text = windowTextA(child);  // the message; the icon is a Static without text
            }
        }
        if (button) SendMessageA(button, BM_CLICK, 0, 0);
    });
    p.descriptor->config();
    presser.join();
    p.check("config_box_shown", seen.box != nullptr);
    p.check("config_box_owner_is_main", seen.owner == p.mainWindow);
    p.check("config_box_text",
            seen.text == "There is no current configuration settings. Please edit the source of Vorlu.", seen.text);
    p.check("config_box_caption_empty", seen.caption.empty(), seen.caption);
    p.check("config_box_one_button", seen.buttons == 1, std::to_string(seen.buttons));
    p.extraRecords.push_back("config\t" + escapeField(seen.text) + "\t" + escapeField(seen.caption));
    p.say("config notice: \"" + seen.text + "\"");
}

void writeResults() {
    Player& p = *player;
    if (p.options.results.empty()) return;
    std::ofstream out(p.options.results, std::ios::binary | std::ios::trunc);
    for (const auto& line : p.checks) out << line << '\n';
    for (const auto& line : p.extraRecords) out << line << '\n';
    {
        std::lock_guard<std::mutex> lock(p.debugMutex);
        for (const auto& line : p.debugLines) out << "debug\t" << escapeField(line) << '\n';
    }
    for (const auto& request : p.model.requests()) {
        out << "request\t" << request.time << '\t' << request.code << '\t' << request.wParam << '\t' << request.sender
            << '\t' << escapeField(request.file) << '\t' << escapeField(request.value) << '\t' << request.answer
            << '\n';
    }
    int counted = 0;
    for (const auto& start : p.model.starts()) {
        const char* by[] = {"listener", "restart", "plugin"};
        out << "start\t" << start.time << '\t' << escapeField(start.file) << '\t' << by[static_cast<int>(start.by)]
            << '\t' << (start.counted ? "counted" : "not counted") << '\n';
        counted += start.counted;
    }
    out << "plays_counted\t" << counted << '\n';
    for (const auto& change : p.model.playStates())
        out << "state\t" << change.time << '\t' << standin::stateName(change.state) << '\n';
    for (const auto& commit : p.model.commits())
        out << "commit\t" << commit.time << '\t' << escapeField(commit.file) << '\t' << escapeField(commit.artist)
            << (commit.byHand ? "\thand" : "") << '\n';
    for (const auto& [file, artist] : p.originals)
        out << "original\t" << escapeField(file) << '\t' << escapeField(artist) << '\n';
    for (const auto& [file, artist] : p.model.storedArtists())
        out << "stored\t" << escapeField(file) << '\t' << escapeField(artist) << '\n';
    out << "peak_worker_threads\t" << p.peakExtraThreads << '\n';
    out << "threads_at_quit\t" << p.threadsAtQuit << '\n';
    out << "plugin_thread_cpu_ms\t" << pluginThreadCpuMs() << '\n';
}

// What a file must hold at the end: the last edit someone made to it, else its original.
std::string expectedEnd(const std::string& file) {
    std::string end = player->originals.at(file);
    for (const auto& commit : player->model.commits()) {
        if (commit.byHand && commit.file == file) end = commit.artist;
    }
    return end;
}

LPCWSTR wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

// This player's mark beside the tags file: "<tags>.player-<process id>", held unshared and
// gone with its handle, when the process ends or is killed.
std::u16string presenceMark(DWORD process) {
    return standin::utf16FromUtf8(player->options.tags + ".player-" + std::to_string(process));
}

void markPresence() {
    player->presence = CreateFileW(wide(presenceMark(GetCurrentProcessId())), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// Whether another player on the same tags file runs now: its mark cannot be opened.
bool anotherPlayerRuns() {
    std::u16string own = presenceMark(GetCurrentProcessId());
    std::u16string folder = own.substr(0, own.find_last_of(u"\\/") + 1);
    std::u16string ownName = own.substr(folder.size());
    std::u16string pattern = own.substr(0, own.find_last_of(u'-') + 1) + u"*";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(pattern), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool another = false;
    do {
        std::u16string name = reinterpret_cast<const char16_t*>(found.cFileName);
        if (standin::sameFile(standin::utf8FromUtf16(name), standin::utf8FromUtf16(ownName))) continue;
        HANDLE mark =
            CreateFileW(wide(folder + name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (mark != INVALID_HANDLE_VALUE)
            CloseHandle(mark);
        else
            another = GetLastError() == ERROR_SHARING_VIOLATION;
    } while (!another && FindNextFileW(search, &found));
    FindClose(search);
    return another;
}

// A stamp of its expected end that another player running on the same tags put on a file
// and may hold yet: the two-player limit, no fault of this player's plug-in. Never this
// player's own last write, which its plug-in must take out itself. Said once.
bool anotherPlayersStamp(const std::string& file, const std::string& stored) {
    Player& p = *player;
    if (p.options.tags.empty() || !standin::isStampOf(stored, expectedEnd(file))) return false;
    {
        std::lock_guard<std::mutex> lock(p.ownWritesMutex);
        auto own = p.ownWrites.find(file);
        if (own != p.ownWrites.end() && own->second == stored) return false;
    }
    if (!anotherPlayerRuns()) return false;
    if (p.twoPlayerLimit.insert(file).second) {
        std::printf(
            "two-player limit: %s holds \"%s\", the stamp of another player still running on these tags, "
            "not of this one's plug-in: not counted\n",
            file.c_str(), stored.c_str());
        std::fflush(stdout);
        p.extraRecords.push_back("two_player_limit\t" + escapeField(file) + "\t" + escapeField(stored));
    }
    return true;
}

// Whether every file holds what it must now, or another player's stamp.
bool everyArtistIsTheOriginal(std::string* differing) {
    for (const auto& [file, original] : player->originals) {
        std::string stored = player->model.storedArtist(file);
        if (stored != expectedEnd(file) && !anotherPlayersStamp(file, stored))
            *differing += file + " holds \"" + stored + "\"; ";
    }
    return differing->empty();
}

void quitPlugin() {
    Player& p = *player;
    p.pluginQuit = true;
    if (p.closing) {
        std::string differing;
        p.check("every_artist_restored_before_quit", everyArtistIsTheOriginal(&differing), differing);
    }
    p.threadsAtQuit = watchPluginThreads();
    auto before = std::chrono::steady_clock::now();
    p.descriptor->quit();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
    p.extraRecords.push_back("quit_ms\t" + std::to_string(took.count()));
    p.say("quit took " + std::to_string(took.count()) + " ms");
    FreeLibrary(p.library);
    if (!IsWindow(p.mainWindow)) return;  // the host's exit destroyed its windows first
    probeWindows("after_unload");
    probeText("after_unload");
}

// WM_CLOSE, as the host handles it: asks its own main window IPC_HOOK_OKTOQUIT through
// every subclass, stops playback and destroys the main window (and the playlist editor it
// owns); the plug-in's quit comes after the message loop.
void closeHost() {
    Player& p = *player;
    LRESULT okToQuit = SendMessageA(p.mainWindow, WM_USER, 0, IPC_HOOK_OKTOQUIT);
    p.check("ok_to_quit_passed_on", okToQuit != 0, std::to_string(okToQuit));
    if (okToQuit == 0) return;
    p.closing = true;
    pressButton(HOST_BUTTON_STOP);
    DestroyWindow(p.mainWindow);
}

// WM_ENDSESSION at a log-off: stop, the playlist freed, the plug-ins' quit with the
// window still alive, then the input plug-ins shut down.
void endSession() {
    Player& p = *player;
    p.closing = true;
    pressButton(HOST_BUTTON_STOP);
    p.model.freePlaylist();
    quitPlugin();
    p.model.shutDown();
    p.quitting = true;
}

void summarize() {
    Player& p = *player;
    p.say("stored ARTIST of every file:");
    bool allKept = true;
    for (const auto& entry : p.originals) {
        const std::string& file = entry.first;
        std::string stored = p.model.storedArtist(file);
        std::string original = expectedEnd(file);
        bool same = stored == original;
        p.say("  " + file + ": \"" + stored + "\" " +
              (same ? "(equals the original)" : "(ORIGINAL WAS \"" + original + "\")"));
        allKept = allKept && (same || anotherPlayersStamp(file, stored));
    }
    p.check("every_stored_artist_is_the_original", allKept);
}

// What the player keeps of the listener's beside the tags: a title in every entry read
// after its file's last write (or marked to be read again), and a count of plays made
// exactly by the listener's starts, none by a write's restart or a plug-in's press, and
// every one of the listener's: a plug-in that turns tracking off turns it on again within
// the handling of one message, which no click comes inside.
void checkWhatTheListenerKeeps() {
    Player& p = *player;
    std::string stale;
    for (const auto& entry : p.model.staleTitles()) stale += entry + "; ";
    p.check("playlist_titles_read_after_last_write", stale.empty(), stale);
    std::string ours, listeners;
    for (const auto& start : p.model.starts()) {
        if (start.counted && start.by != standin::Starter::Listener) ours += describe(start) + "; ";
        if (!start.counted && start.by == standin::Starter::Listener) listeners += describe(start) + "; ";
    }
    p.check("no_play_counted_but_the_listeners", ours.empty(), ours);
    p.check("every_listener_play_counted", listeners.empty(), listeners);
    // A stamp only of the file that plays or stands paused, a pause mark only while it
    // stands paused; a plug-in's change of playback undone at once (a quarter of a real
    // second allows for a busy machine), and never across a click of the listener's.
    std::string against = p.model.firstWriteAgainstPlayback();
    p.check("writes_agree_with_playback", against.empty(), against);
    std::string notUndone = p.model.firstChangeOfPluginsNotUndone(static_cast<long long>(250 * p.options.speed));
    p.check("every_change_of_a_plugins_undone_before_a_click", notUndone.empty(), notUndone);
    p.check("play_tracking_on_at_end", p.model.playTracking());
}

// The files' tags on disk: the --tags file, which any other player on the same files shares.
// Each read and each write holds its lock (a file beside it, opened exclusively), as a disk
// serves two players one request at a time.
class TagsLock {
public:
    TagsLock() {
        std::u16string path = standin::utf16FromUtf8(player->options.tags + ".lock");
        for (int attempt = 0; attempt < 10000 && handle == INVALID_HANDLE_VALUE; ++attempt) {
            handle = CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle == INVALID_HANDLE_VALUE) Sleep(1);
        }
    }
    ~TagsLock() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    TagsLock(const TagsLock&) = delete;
    TagsLock& operator=(const TagsLock&) = delete;

private:
    HANDLE handle = INVALID_HANDLE_VALUE;
};

std::optional<std::string> readStoredTag(const std::string& file) {
    TagsLock lock;
    auto tags = standin::readTags(player->options.tags);
    auto found = tags.find(file);
    return found == tags.end() ? std::nullopt : std::optional<std::string>(found->second);
}

void writeStoredTag(const std::string& file, const std::string& artist) {
    TagsLock lock;
    auto tags = standin::readTags(player->options.tags);
    tags[file] = artist;
    standin::writeTags(player->options.tags, tags);
    std::lock_guard<std::mutex> own(player->ownWritesMutex);
    player->ownWrites[file] = artist;
}

// The folder that keeps the playlist's files: --music-dir; else "music" beside the tags
// file, where a later run on those tags finds the same files; else one in the temporary
// folder, named after this process.
std::string musicFolder() {
    const Options& options = player->options;
    std::string folder;
    if (!options.musicDir.empty()) {
        folder = standin::utf8FromUtf16(fullPath(options.musicDir));
    } else if (!options.tags.empty()) {
        std::string tags = standin::utf8FromUtf16(fullPath(options.tags));
        folder = tags.substr(0, tags.find_last_of('\\')) + "\\music";
    } else {
        wchar_t temporary[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temporary);
        folder = standin::utf8FromUtf16(reinterpret_cast<const char16_t*>(temporary)) + "vorlu-music-" +
                 std::to_string(GetCurrentProcessId());
    }
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

// Each playlist file with a place on disk that is not there yet, made empty, as a machine
// holds them: a plug-in opens and flushes the files it writes. One that cannot be made (a
// name Windows refuses) stays absent, as it would be on a machine.
void makePlaylistFiles() {
    for (const auto& entry : player->model.playlist()) {
        std::string name = player->model.diskName(entry.file);
        if (name == entry.file) continue;  // a stream, or no drive letter to place it by
        std::u16string path = standin::utf16FromUtf8(name);
        std::u16string folder = path.substr(0, path.find_last_of(u'\\'));
        SHCreateDirectoryExW(nullptr, reinterpret_cast<LPCWSTR>(folder.c_str()), nullptr);
        HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
}

// Takes the tags the store holds, and gives it those of the playlist's files it lacks.
void shareTags() {
    Player& p = *player;
    if (p.options.tags.empty()) return;
    markPresence();
    {
        TagsLock lock;
        auto tags = standin::readTags(p.options.tags);
        for (const auto& [file, artist] : tags) p.model.setStoredArtist(file, artist);
        for (const auto& [file, artist] : p.model.storedArtists()) tags.emplace(file, artist);
        standin::writeTags(p.options.tags, tags);
    }
    p.model.setTagStore({readStoredTag, writeStoredTag});
}

// The index of the playlist entry a script names by its number, counted from 1 as the
// playlist window numbers its entries.
int entryIndex(int number) {
    if (number < 1 || number > static_cast<int>(player->model.playlist().size()))
        throw std::runtime_error("no entry " + std::to_string(number) + " (entries count from 1)");
    return number - 1;
}

// A fault of the host's input plug-in for the file of entry number, from now on.
void addFault(const std::string& kind, int number) {
    Player& p = *player;
    const std::string& file = p.model.playlist()[static_cast<std::size_t>(entryIndex(number))].file;
    if (kind == "failing-writes") {
        p.failingWrites.insert(file);
        p.model.acceptWrites([](const std::string& written) { return !player->failingWrites.count(written); });
        return;
    }
    // Another program's hold, without sharing writes, refuses every set as a read-only file does.
    bool refused = kind == "read-only" || kind == "held";
    FileFaults& faults = p.faults[file];
    (kind == "empty-reads" ? faults.emptyReads : refused ? faults.readOnly : faults.stopsOnSet) = true;
    p.model.setFaults(file, faults);
    // So on its disk too, as a plug-in that looks at the file finds it; the hold lasts the run.
    std::u16string path = standin::utf16FromUtf8(p.model.diskName(file));
    if (kind == "read-only") SetFileAttributesW(reinterpret_cast<LPCWSTR>(path.c_str()), FILE_ATTRIBUTE_READONLY);
    if (kind == "held")
        CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
}

// "<number> <text>": someone sets the ARTIST of that entry's file (a tag editor, the
// player's own dialog) while the player runs.
void editArtist(const std::string& argument) {
    Player& p = *player;
    std::size_t space = argument.find(' ');
    int index = entryIndex(std::stoi(argument.substr(0, space)));
    std::string file = p.model.playlist()[static_cast<std::size_t>(index)].file;
    std::string artist = space == std::string::npos ? "" : argument.substr(space + 1);
    p.model.editArtist(file, artist);
    p.say("[" + timeLabel(p.clock()) + "] " + file + "  ARTIST = \"" + artist + "\" (edited by hand)");
    repaintWindows();
}

// The playlist as the player's writer saves it: the titles its entries hold.
void savePlaylist(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << player->model.savedPlaylist();
    if (!out) throw std::runtime_error("cannot save the playlist to " + path);
}

void runAction(const standin::ScriptAction& action) {
    Player& p = *player;
    standin::PlayerModel& model = p.model;
    const std::string& a = action.action;
    bool moved = false;
    if (a == "play")
        moved = model.play();
    else if (a == "pause")
        model.pause();
    else if (a == "resume")
        model.resume();
    else if (a == "stop")
        pressButton(HOST_BUTTON_STOP);
    else if (a == "empty-reads" || a == "failing-writes" || a == "stop-on-set" || a == "read-only" || a == "held") {
        addFault(a, std::stoi(action.argument));
    } else if (a == "repeat-one") {
        model.setRepeatOne(action.argument == "on");
    } else if (a == "edit") {
        editArtist(action.argument);
    } else if (a == "next")
        moved = model.next();
    else if (a == "prev")
        moved = model.previous();
    else if (a == "jump")
        moved = model.jump(entryIndex(std::stoi(action.argument)));
    else if (a == "seek")
        model.seek(static_cast<long long>(std::stod(action.argument) * 1000));
    else if (a == "config")
        configPlugin();
    else if (a == "screenshot")
        takeScreenshot();
    else if (a == "save-playlist")
        savePlaylist(action.argument);
    else if (a == "refuse-sets") {
        bool refuse = action.argument == "on";
        model.acceptSets([refuse](const std::string&, const std::string&) { return !refuse; });
    } else if (a == "refuse-restores") {
        // Sets of a file's original refused, as for a file another program holds locked.
        bool refuse = action.argument == "on";
        model.acceptSets([refuse](const std::string& file, const std::string& value) {
            auto original = player->originals.find(file);
            return !refuse || original == player->originals.end() || value != original->second;
        });
    } else if (a == "refuse-reads") {
        bool refuse = action.argument == "on";
        model.acceptReads([refuse](const std::string&) { return !refuse; });
    } else if (a == "kill") {
        p.say("killed at " + timeLabel(p.clock()));
        writeResults();
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    } else if (a == "quit") {
        p.quitting = true;
    } else if (a == "exit") {
        SendMessageA(p.mainWindow, WM_CLOSE, 0, 0);
    } else if (a == "logoff") {
        SendMessageA(p.mainWindow, WM_ENDSESSION, TRUE, 0);
    } else if (a == "on-request") {
        armClick(action.argument);
    } else if (a == "quit-inside") {
        PostMessageA(p.mainWindow, quitInsideMessage, 0, 0);
    } else {
        throw std::runtime_error("unknown script action: " + a);
    }
    if (!p.options.quiet && a != "config" && a != "quit")
        p.say("[" + timeLabel(p.clock()) + "] " + a + (action.argument.empty() ? "" : " " + action.argument));
    p.extraRecords.push_back("action\t" + std::to_string(p.clock()) + "\t" + a + "\t" + escapeField(action.argument));
    if (moved) playbackNotice();
    repaintWindows();
}

void tick() {
    Player& p = *player;
    static const std::set<std::string> listenersClicks = {"play", "pause", "resume", "stop",
                                                          "next", "prev",  "jump",   "seek"};
    while (p.nextAction < p.script.size() && p.script[p.nextAction].time <= p.clock() && !p.quitting) {
        // The listener's next click in the script: the armed ones that never came lapse.
        if (listenersClicks.count(p.script[p.nextAction].action)) p.armedClicks.clear();
        runAction(p.script[p.nextAction++]);
    }
    if (p.quitting) return;
    if (p.model.advanceIfEnded()) playbackNotice();
    if (p.model.takeTitleNotice()) titleUpdate(p.model.currentIndex() | TRACK_CHANGE_LPARAM_BIT);
    if (p.model.state() != standin::PlayState::Playing) {
        p.nextRepeatNotice = -1;
    } else if (p.clock() >= p.nextRepeatNotice) {
        if (p.nextRepeatNotice >= 0) titleUpdate(p.model.currentIndex() | TRACK_CHANGE_LPARAM_BIT);
        // Every one to six seconds of real time.
        p.nextRepeatNotice =
            p.clock() +
            static_cast<long long>(std::uniform_int_distribution<int>(1000, 6000)(p.repeatTimes) * p.options.speed);
    }
    p.model.displayTimerTick();
    if (++p.ticks % 10 == 0) repaintWindows();  // the position moves on
    p.peakExtraThreads = std::max(p.peakExtraThreads, watchPluginThreads());
}

// Whether playback has stood stopped for a while: a set that stops the playing file (m4a,
// wma) stops it only until its write, or the plug-in's press of play.
bool stayedStopped() {
    Player& p = *player;
    auto now = std::chrono::steady_clock::now();
    if (p.model.state() != standin::PlayState::Stopped) {
        p.stoppedSince.reset();
        return false;
    }
    if (!p.stoppedSince) p.stoppedSince = now;
    return now - *p.stoppedSince >= std::chrono::milliseconds(250);
}

Options parseOptions(const std::vector<std::string>& words) {
    Options options;
    int count = static_cast<int>(words.size());
    for (int i = 1; i < count; ++i) {
        std::string flag = words[static_cast<std::size_t>(i)];
        auto value = [&]() -> std::string {
            if (i + 1 >= count) throw std::runtime_error(flag + " needs a value");
            return words[static_cast<std::size_t>(++i)];
        };
        if (flag == "--plugin")
            options.plugin = value();
        else if (flag == "--playlist")
            options.playlist = value();
        else if (flag == "--script")
            options.script = value();
        else if (flag == "--tags")
            options.tags = value();
        else if (flag == "--results")
            options.results = value();
        else if (flag == "--speed")
            options.speed = std::stod(value());
        else if (flag == "--screenshot")
            options.screenshot = value();
        else if (flag == "--settings-dir")
            options.settingsDir = value();
        else if (flag == "--music-dir")
            options.musicDir = value();
        else if (flag == "--old-host")
            options.oldHost = true;
        else if (flag == "--quiet")
            options.quiet = true;
        else
            throw std::runtime_error("unknown option " + flag);
    }
    if (options.plugin.empty()) throw std::runtime_error("--plugin PATH is required");
    if (options.speed <= 0) throw std::runtime_error("--speed must be positive");
    return options;
}

int playScript(Player& p) {
    p.options = parseOptions(commandLineWords());
    p.script = standin::readScript(p.options.script);
    p.model.setHostVersion(p.options.oldHost ? standin::oldHostVersion : standin::modernHostVersion);
    p.unicodeWindows = !p.options.oldHost;
    // The title update comes 100 to 500 ms of real time after a start or a restart.
    p.model.setTitleNoticeDelay(static_cast<long long>(100 * p.options.speed),
                                static_cast<long long>(500 * p.options.speed), 20261208);
    p.model.onNotice(noticeFromRequest);
    // Posted, as the player posts it: it comes through the message loop once the change is done.
    p.model.onStatus([](WPARAM what) { PostMessageW(player->mainWindow, WM_USER, what, IPC_CB_MISC); });
    p.model.setCodePage(systemCodePage());
    bool ownSettings = p.options.settingsDir.empty();
    std::string settings = ownSettings ? freshSettingsFolder() : p.options.settingsDir;
    p.model.setSettingsFolder(settings);
    p.say("settings folder for plug-ins' files: " + settings);
    p.model.setPlaylist(standin::readPlaylist(p.options.playlist));
    std::string music = musicFolder();
    p.model.setMusicFolder(music);
    makePlaylistFiles();
    p.say("playlist files in " + music);
    for (const auto& entry : p.model.playlist()) p.originals[entry.file] = entry.artist;
    shareTags();
    // Requests sent from another thread are the workers'; the host answers all on this one.
    p.model.tagSenders([] { return std::string(InSendMessage() ? "worker" : "ui"); });
    p.model.onCommit([](const standin::Commit& commit) {
        player->say("[" + timeLabel(commit.time) + "] " + commit.file + "  ARTIST = \"" + commit.artist + "\"");
        repaintWindows();
    });

    p.mainWindow =
        makeWindow("VorluStandinMain", "Stand-in player", mainProcedure, 40, standin::mainViewHeight, nullptr);
    p.playlistEditor = makeWindow("VorluStandinPlaylist", "Playlist editor", editorProcedure, 160,
                                  standin::playlistViewHeight, p.mainWindow);
    if (!p.mainWindow || !p.playlistEditor)
        throw std::runtime_error(
            "cannot create the player's windows: there is no display. Run it under xvfb-run (xvfb-run -a wine "
            "standin_player.exe ...), or, where a wineserver was started without a display, stop it first "
            "(wineserver -k)");
    p.model.setPlaylistEditor(p.playlistEditor);
    listenToDebugOutput();
    for (DWORD id : processThreadIds()) p.playerThreads.insert(id);

    loadPlugin();
    SetTimer(nullptr, 0, 10, nullptr);
    MSG message;
    while (!p.quitting && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr)
            tick();
        else if (message.message == clickMessage && message.hwnd == p.mainWindow && p.postedClick)
            runAction(*std::exchange(p.postedClick, std::nullopt));
        else
            DispatchMessageW(&message);
        if (p.nextAction >= p.script.size() && stayedStopped()) p.quitting = true;
    }
    if (!p.pluginQuit) quitPlugin();
    if (p.titleUpdates > 0)
        p.check("title_updates_keep_their_text", p.titleFailure.empty(),
                std::to_string(p.titleUpdates) + " updates; " + p.titleFailure);
    if (!p.screenshotTaken) takeScreenshot();
    p.check("playlist_shows_the_current_entry", p.hiddenCurrentEntry.empty(), p.hiddenCurrentEntry);
    summarize();
    checkWhatTheListenerKeeps();
    writeResults();
    // Only an empty one: what a plug-in left there stays for a later run given the folder.
    if (ownSettings) RemoveDirectoryW(reinterpret_cast<LPCWSTR>(standin::utf16FromUtf8(settings).c_str()));
    return 0;
}

// The player lives until its results are written, a failed run's too.
int run() {
    Player p;
    player = &p;
    try {
        return playScript(p);
    } catch (const std::exception&) {
        writeResults();
        throw;
    }
}

}  // namespace

int main() {
    try {
        return run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "standin_player: %s\n", error.what());
        return 2;
    }
}
