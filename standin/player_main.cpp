// The stand-in player: owns a main window and a playlist editor window on its UI thread,
// answers the host requests from the player model, loads gen_vorlu.dll the way the host
// does and plays a playlist by a script, at a speed factor.
//
//   standin_player --plugin gen_vorlu.dll [--playlist FILE] [--script FILE] [--speed N]
//                  [--tags FILE] [--results FILE] [--screenshot FILE.png] [--old-host]
//                  [--settings-dir DIR] [--quiet]
//
// It answers as a host of version 5.13 or later, with the wide-character requests, or
// with --old-host as 5.12, which answers 1 to them as to any request it does not know.
// Its single-byte answers go through the system's code page, '?' for what it cannot hold.
// It names --settings-dir (by default its own folder) as the folder for plug-ins' files.
//
// It prints the ARTIST field of a file whenever a committed value changes, writes the
// stored tags to --tags at every commit (as a file on disk would hold them), and writes
// every request, commit and check to --results for the tests. Its windows show the play
// state and every entry's stored ARTIST; --screenshot saves them as a PNG at a
// `screenshot` action of the script, or else at the end.
#include <windows.h>

#include "player_files.h"
#include "player_model.h"
#include "player_view.h"

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using standin::escapeField;

const UINT probeMessage = WM_APP + 7;
const UINT quitInsideMessage = WM_APP + 9;  // the player quits the plug-in while handling it
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
    long long ticks = 0;
    struct {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    } lastProbe[2];

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

// The folder the player's program is in, without a trailing backslash.
std::string ownFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
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
bool paintWith(void (*view)(HDC, const RECT&, const standin::PlayerModel&), HWND window, UINT message) {
    if (message != WM_PAINT) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    view(dc, client, player->model);
    EndPaint(window, &paint);
    return true;
}

LRESULT CALLBACK mainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER) return player->model.answer(wParam, lParam);
    if (paintWith(standin::paintMainView, window, message)) return 0;
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
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK editorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (paintWith(standin::paintPlaylistView, window, message)) return 0;
    if (message == probeMessage) {
        player->lastProbe[1] = {message, wParam, lParam};
        return probeAnswer(message, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A window whose client area is width x height, at top.
HWND makeWindow(const char* className, const char* title, WNDPROC procedure, int top, int height) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&windowClass);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, standin::mainViewWidth, height};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowA(className, title, style, 40, top, frame.right - frame.left, frame.bottom - frame.top,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window) ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
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

void sendTrackChangeNotice() { SendMessageA(player->playlistEditor, WM_USER, 666, 0x40000000); }

void loadPlugin() {
    Player& p = *player;
    p.library = LoadLibraryA(p.options.plugin.c_str());
    if (!p.library) throw std::runtime_error("cannot load " + p.options.plugin);
    using GetPlugin = winampGeneralPurposePlugin* (*)();
    auto get = reinterpret_cast<GetPlugin>(
        reinterpret_cast<void*>(GetProcAddress(p.library, "winampGetGeneralPurposePlugin")));
    if (!get) throw std::runtime_error("no winampGetGeneralPurposePlugin export in " + p.options.plugin);
    p.descriptor = get();
    p.check("descriptor_same_each_call", get() == p.descriptor);
    p.check("descriptor_version", p.descriptor->version == GPPHDR_VER, std::to_string(p.descriptor->version));
    p.extraRecords.push_back(std::string("description\t") + escapeField(p.descriptor->description));
    p.say(std::string("plug-in loaded: ") + p.descriptor->description);

    auto mainBefore = GetWindowLongPtrA(p.mainWindow, GWLP_WNDPROC);
    auto editorBefore = GetWindowLongPtrA(p.playlistEditor, GWLP_WNDPROC);
    p.descriptor->hwndParent = p.mainWindow;
    p.descriptor->hDllInstance = p.library;
    p.descriptor->init();
    p.check("init_subclasses_main", GetWindowLongPtrA(p.mainWindow, GWLP_WNDPROC) != mainBefore);
    p.check("init_subclasses_editor", GetWindowLongPtrA(p.playlistEditor, GWLP_WNDPROC) != editorBefore);
    probeWindows("after_init");
}

BOOL CALLBACK findDialog(HWND window, LPARAM found) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770") return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
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
        char text[512] = {};
        GetWindowTextA(seen.box, text, sizeof text);
        seen.caption = text;
        seen.owner = GetWindow(seen.box, GW_OWNER);
        HWND button = nullptr;
        for (HWND child = GetWindow(seen.box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            char className[16] = {};
            GetClassNameA(child, className, sizeof className);
            if (std::string(className) == "Button") {
                ++seen.buttons;
                button = child;
            } else if (std::string(className) == "Static" && GetWindowTextA(child, text, sizeof text) > 0) {
                seen.text = text;  // the message; the icon is a Static without text
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
    for (const auto& request : p.model.requests()) {
        out << "request\t" << request.time << '\t' << request.code << '\t' << request.wParam << '\t' << request.sender
            << '\t' << escapeField(request.file) << '\t' << escapeField(request.value) << '\t' << request.answer
            << '\n';
    }
    for (const auto& commit : p.model.commits())
        out << "commit\t" << commit.time << '\t' << escapeField(commit.file) << '\t' << escapeField(commit.artist)
            << '\n';
    for (const auto& [file, artist] : p.originals)
        out << "original\t" << escapeField(file) << '\t' << escapeField(artist) << '\n';
    for (const auto& [file, artist] : p.model.storedArtists())
        out << "stored\t" << escapeField(file) << '\t' << escapeField(artist) << '\n';
    out << "peak_worker_threads\t" << p.peakExtraThreads << '\n';
    out << "threads_at_quit\t" << p.threadsAtQuit << '\n';
    out << "plugin_thread_cpu_ms\t" << pluginThreadCpuMs() << '\n';
}

void quitPlugin() {
    Player& p = *player;
    p.pluginQuit = true;
    p.threadsAtQuit = watchPluginThreads();
    auto before = std::chrono::steady_clock::now();
    p.descriptor->quit();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
    p.extraRecords.push_back("quit_ms\t" + std::to_string(took.count()));
    p.say("quit took " + std::to_string(took.count()) + " ms");
    FreeLibrary(p.library);
    probeWindows("after_unload");
}

void summarize() {
    Player& p = *player;
    p.say("stored ARTIST of every file:");
    bool allKept = true;
    for (const auto& [file, original] : p.originals) {
        std::string stored = p.model.storedArtist(file);
        bool same = stored == original;
        allKept = allKept && same;
        p.say("  " + file + ": \"" + stored + "\" " +
              (same ? "(equals the original)" : "(ORIGINAL WAS \"" + original + "\")"));
    }
    p.check("every_stored_artist_is_the_original", allKept);
}

void persistTags() {
    if (!player->options.tags.empty()) standin::writeTags(player->options.tags, player->model.storedArtists());
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
        model.stop();
    else if (a == "next")
        moved = model.next();
    else if (a == "prev")
        moved = model.previous();
    else if (a == "jump")
        moved = model.jump(std::stoi(action.argument));
    else if (a == "seek")
        model.seek(static_cast<long long>(std::stod(action.argument) * 1000));
    else if (a == "config")
        configPlugin();
    else if (a == "screenshot")
        takeScreenshot();
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
    } else if (a == "quit-inside") {
        PostMessageA(p.mainWindow, quitInsideMessage, 0, 0);
    } else {
        throw std::runtime_error("unknown script action: " + a);
    }
    if (!p.options.quiet && a != "config" && a != "quit")
        p.say("[" + timeLabel(p.clock()) + "] " + a + (action.argument.empty() ? "" : " " + action.argument));
    p.extraRecords.push_back("action\t" + std::to_string(p.clock()) + "\t" + a + "\t" + escapeField(action.argument));
    if (moved) sendTrackChangeNotice();
}

void tick() {
    Player& p = *player;
    while (p.nextAction < p.script.size() && p.script[p.nextAction].time <= p.clock() && !p.quitting)
        runAction(p.script[p.nextAction++]);
    if (p.model.advanceIfEnded()) sendTrackChangeNotice();
    if (p.model.state() != standin::PlayState::Playing) {
        p.nextRepeatNotice = -1;
    } else if (p.clock() >= p.nextRepeatNotice) {
        if (p.nextRepeatNotice >= 0) sendTrackChangeNotice();
        // Every one to six seconds of real time.
        p.nextRepeatNotice =
            p.clock() +
            static_cast<long long>(std::uniform_int_distribution<int>(1000, 6000)(p.repeatTimes) * p.options.speed);
    }
    if (++p.ticks % 10 == 0) repaintWindows();  // the position moves on
    p.peakExtraThreads = std::max(p.peakExtraThreads, watchPluginThreads());
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string flag = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(flag + " needs a value");
            return argv[++i];
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

int run(int argc, char** argv) {
    Player p;
    player = &p;
    p.options = parseOptions(argc, argv);
    p.script = standin::readScript(p.options.script);
    p.model.setHostVersion(p.options.oldHost ? standin::oldHostVersion : standin::modernHostVersion);
    p.model.setCodePage(systemCodePage());
    p.model.setSettingsFolder(p.options.settingsDir.empty() ? ownFolder() : p.options.settingsDir);
    p.model.setPlaylist(standin::readPlaylist(p.options.playlist));
    for (const auto& [file, artist] : standin::readTags(p.options.tags)) p.model.setStoredArtist(file, artist);
    for (const auto& entry : p.model.playlist()) p.originals[entry.file] = entry.artist;
    // Requests sent from another thread are the workers'; the host answers all on this one.
    p.model.tagSenders([] { return std::string(InSendMessage() ? "worker" : "ui"); });
    p.model.onCommit([](const standin::Commit& commit) {
        persistTags();
        player->say("[" + timeLabel(commit.time) + "] " + commit.file + "  ARTIST = \"" + commit.artist + "\"");
        repaintWindows();
    });

    p.mainWindow = makeWindow("VorluStandinMain", "Stand-in player", mainProcedure, 40, standin::mainViewHeight);
    p.playlistEditor =
        makeWindow("VorluStandinPlaylist", "Playlist editor", editorProcedure, 160, standin::playlistViewHeight);
    if (!p.mainWindow || !p.playlistEditor) throw std::runtime_error("cannot create the player's windows");
    p.model.setPlaylistEditor(p.playlistEditor);
    for (DWORD id : processThreadIds()) p.playerThreads.insert(id);

    loadPlugin();
    SetTimer(nullptr, 0, 10, nullptr);
    MSG message;
    while (!p.quitting && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr)
            tick();
        else
            DispatchMessageA(&message);
        if (p.nextAction >= p.script.size() && p.model.state() == standin::PlayState::Stopped) p.quitting = true;
    }
    if (!p.pluginQuit) quitPlugin();
    if (!p.screenshotTaken) takeScreenshot();
    persistTags();
    summarize();
    writeResults();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "standin_player: %s\n", error.what());
        if (player) writeResults();
        return 2;
    }
}
