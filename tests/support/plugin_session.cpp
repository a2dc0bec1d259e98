#include "plugin_session.h"

#include "plugin/gen_vorlu.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <stdexcept>

namespace vorlu_test {

namespace {
PluginSession* current = nullptr;
bool loaded = false;
}  // namespace

bool PluginSession::nothingLoadedYet() { return !loaded; }

bool oldHostRun() {
    const char* old = std::getenv("VORLU_OLD_HOST");
    return old && std::string(old) == "1";
}

LRESULT recordedResult(UINT message, WPARAM wParam, LPARAM lParam) {
    return static_cast<LRESULT>(message) * 7 + static_cast<LRESULT>(wParam) * 3 + lParam + 11;
}

PluginSession::PluginSession(std::vector<standin::Entry> playlist, SessionOptions options)
    : model([] { return winshim::now(); }) {
    if (current) throw std::logic_error("one session at a time");
    current = this;
    winshim::reset(options.realTimeDivisor);
    hostMainProcedure = mainProcedure;
    hostEditorProcedure = editorProcedure;
    mainWindow = winshim::createWindow(mainProcedure);
    playlistEditor = winshim::createWindow(editorProcedure);
    model.tagSenders([] { return std::to_string(winshim::currentThreadId()); });
    model.setHostVersion(
        options.hostVersion.value_or(oldHostRun() ? standin::oldHostVersion : standin::modernHostVersion));
    static int folders = 0;
    ownFolder = !options.journalFolder;
    journalFolder = ownFolder ? emptyFolder("unit-" + std::to_string(++folders)) : *options.journalFolder;
    model.setSettingsFolder(journalFolder);
    winshim::setProcess(options.processId, options.processCreation);
    replacePlaylist(std::move(playlist));
    model.setPlaylistEditor(options.hasPlaylistEditor ? playlistEditor : nullptr);
    if (options.init) {
        winampGeneralPurposePlugin* descriptor = winampGetGeneralPurposePlugin();
        descriptor->hwndParent = mainWindow;
        descriptor->init();
        loaded = true;
        if (!options.settleRepair) return;
        if (!options.firstInProcess) {
            makeWatcherForgetTheLastFile(options.realTimeDivisor);
        } else {
            winshim::runUntilThreadsEnd(60000);
            winshim::restartThreadsAndClock(options.realTimeDivisor);
        }
    }
}

void PluginSession::makeWatcherForgetTheLastFile(int divisor) {
    static int sessions = 0;
    std::string name = "<session " + std::to_string(++sessions) + ">";
    std::u16string wideName = standin::utf16FromUtf8(name);
    overrideAnswer = [&name, &wideName](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        switch (code) {
        case IPC_GETPLAYLISTFILE:
            return reinterpret_cast<LRESULT>(name.c_str());
        case IPC_GETPLAYLISTFILEW:
            return reinterpret_cast<LRESULT>(wideName.c_str());
        // No file of the session's name: its worker ends at once, writing nothing. Reads of
        // other files (the repair's) go to the host.
        case IPC_GET_EXTENDED_FILE_INFO:
            if (name != reinterpret_cast<const extendedFileInfoStruct*>(wParam)->filename) return std::nullopt;
            return 0;
        case IPC_GET_EXTENDED_FILE_INFOW:
            if (wideName != reinterpret_cast<const extendedFileInfoStructW*>(wParam)->filename) return std::nullopt;
            return 0;
        default:
            return -1;
        }
    };
    sendTrackChangeNotice();
    winshim::runUntilThreadsEnd(60000);
    overrideAnswer = nullptr;
    winshim::restartThreadsAndClock(divisor);
    std::lock_guard<std::mutex> lock(messagesMutex);
    mainLog.clear();
    editorLog.clear();
}

PluginSession::~PluginSession() {
    finish();
    current = nullptr;
    if (ownFolder) std::filesystem::remove_all(journalFolder);
}

std::string emptyFolder(const std::string& name) {
    auto folder = std::filesystem::temp_directory_path() / ("vorlu-" + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string();
}

LRESULT CALLBACK PluginSession::mainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_WA_IPC) {
        if (current->overrideAnswer) {
            if (auto answer = current->overrideAnswer(wParam, lParam)) return *answer;
        }
        return current->model.answer(wParam, lParam);
    }
    std::lock_guard<std::mutex> lock(current->messagesMutex);
    current->mainLog.push_back(Message{window, message, wParam, lParam, winshim::threadsStarted()});
    return recordedResult(message, wParam, lParam);
}

LRESULT CALLBACK PluginSession::editorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(current->messagesMutex);
    current->editorLog.push_back(Message{window, message, wParam, lParam, winshim::threadsStarted()});
    return recordedResult(message, wParam, lParam);
}

std::vector<Message> PluginSession::mainMessages() const {
    std::lock_guard<std::mutex> lock(messagesMutex);
    return mainLog;
}

std::vector<Message> PluginSession::editorMessages() const {
    std::lock_guard<std::mutex> lock(messagesMutex);
    return editorLog;
}

void PluginSession::replacePlaylist(std::vector<standin::Entry> playlist) {
    // A file already known keeps the original it had; the model keeps its stored tags too.
    for (const auto& entry : playlist) originals.emplace(entry.file, entry.artist);
    model.setPlaylist(std::move(playlist));
}

void PluginSession::sendTrackChangeNotice() {
    SendMessageA(playlistEditor, TRACK_CHANGE_MESSAGE, TRACK_CHANGE_WPARAM, TRACK_CHANGE_LPARAM_BIT);
}

void PluginSession::play() {
    if (model.play()) sendTrackChangeNotice();
}

void PluginSession::next() {
    if (model.next()) sendTrackChangeNotice();
}

void PluginSession::previous() {
    if (model.previous()) sendTrackChangeNotice();
}

void PluginSession::jump(int index) {
    if (model.jump(index)) sendTrackChangeNotice();
}

void PluginSession::runUntil(long long time) {
    for (;;) {
        long long end = model.endTime();
        if (end < 0 || end > time) break;
        winshim::runUntil(end);
        if (model.advanceIfEnded()) sendTrackChangeNotice();
    }
    winshim::runUntil(time);
}

void PluginSession::runFor(long long duration) { runUntil(winshim::now() + duration); }

bool PluginSession::finish() {
    model.stop();
    return winshim::runUntilThreadsEnd(600000);
}

std::vector<std::string> PluginSession::artistHistory(const std::string& file) const {
    std::vector<std::string> history{originals.at(file)};
    for (const auto& commit : commitsOf(file)) history.push_back(commit.artist);
    return history;
}

std::vector<standin::Commit> PluginSession::commitsOf(const std::string& file) const {
    std::vector<standin::Commit> result;
    for (const auto& commit : model.commits()) {
        if (commit.file == file) result.push_back(commit);
    }
    return result;
}

std::vector<standin::Request> PluginSession::requests(int code) const {
    std::vector<standin::Request> result;
    for (const auto& request : model.requests()) {
        if (request.code == code) result.push_back(request);
    }
    return result;
}

int PluginSession::nameCode() const { return model.hasWideRequests() ? IPC_GETPLAYLISTFILEW : IPC_GETPLAYLISTFILE; }

int PluginSession::readCode() const {
    return model.hasWideRequests() ? IPC_GET_EXTENDED_FILE_INFOW : IPC_GET_EXTENDED_FILE_INFO;
}

int PluginSession::setCode() const {
    return model.hasWideRequests() ? IPC_SET_EXTENDED_FILE_INFOW : IPC_SET_EXTENDED_FILE_INFO;
}

std::vector<standin::Entry> playlistOf(std::initializer_list<standin::Entry> entries) { return entries; }

}  // namespace vorlu_test
