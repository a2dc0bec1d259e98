#include "plugin_session.h"

#include "plugin/gen_vorlu.h"
#include "stamping/journal.h"
#include "support/artist_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <unistd.h>
#include <stdexcept>

namespace vorlu_test {

namespace {
PluginSession* current = nullptr;
}  // namespace

void placeOnDisk(const std::string& name) {
    bool onADrive = name.size() > 3 && name[1] == ':' && name[2] == '\\';  // not a stream's address
    std::filesystem::path file = onADrive ? winshim::nativePathOf(name) : std::string();
    if (file.empty()) return;
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    std::ofstream(file, std::ios::app).flush();
}

bool oldHostRun() {
    const char* old = std::getenv("VORLU_OLD_HOST");
    return old && std::string(old) == "1";
}

TrackFile trackFileOf(const std::string& name) {
    TrackFile file{};
    file.wide = !oldHostRun();
    std::u16string units = standin::utf16FromUtf8(name);
    std::copy(units.begin(), units.end(), file.name);
    return file;
}

std::string fileOfSet(WPARAM wParam, LPARAM code) {
    if (code == IPC_SET_EXTENDED_FILE_INFOW)
        return standin::utf8FromUtf16(reinterpret_cast<const extendedFileInfoStructW*>(wParam)->filename);
    return reinterpret_cast<const extendedFileInfoStruct*>(wParam)->filename;
}

std::string valueOfSet(WPARAM wParam, LPARAM code) {
    if (code == IPC_SET_EXTENDED_FILE_INFOW)
        return standin::utf8FromUtf16(reinterpret_cast<const extendedFileInfoStructW*>(wParam)->ret);
    return reinterpret_cast<const extendedFileInfoStruct*>(wParam)->ret;
}

std::function<bool(const std::string&, const std::string&)> refuseWriteBacks(std::string original, int refusals) {
    auto refused = std::make_shared<int>(0);
    return [=](const std::string&, const std::string& value) { return value != original || (*refused)++ >= refusals; };
}

LRESULT recordedResult(UINT message, WPARAM wParam, LPARAM lParam) {
    return static_cast<LRESULT>(message) * 7 + static_cast<LRESULT>(wParam) * 3 + lParam + 11;
}

PluginSession::PluginSession(std::vector<standin::Entry> playlist, SessionOptions options)
    : model([] { return winshim::now(); }) {
    if (current) throw std::logic_error("one session at a time");
    virtualClock = options.realTimeDivisor == 0;
    current = this;
    winshim::reset(options.realTimeDivisor);
    hostMainProcedure = mainProcedure;
    hostEditorProcedure = editorProcedure;
    LRESULT version = options.hostVersion.value_or(oldHostRun() ? standin::oldHostVersion : standin::modernHostVersion);
    // A host with the wide requests has Unicode windows.
    bool unicode = version >= HOST_VERSION_WIDE_REQUESTS;
    mainWindow = winshim::createWindow(mainProcedure, unicode);
    playlistEditor = winshim::createWindow(editorProcedure, unicode);
    driverWake = CreateEventA(0, FALSE, FALSE, 0);
    model.tagSenders([] { return std::to_string(winshim::currentThreadId()); });
    model.setHostVersion(version);
    model.setTitleNoticeDelay(options.titleDelayMin, options.titleDelayMax, options.titleDelaySeed);
    model.onStatus([this](WPARAM what) {
        std::lock_guard<std::mutex> lock(postedMutex);
        posted.push_back(what);
        // The driver delivers what it posts itself after its action; another thread's post
        // (a restart within a worker's step) wakes its message loop.
        if (winshim::currentThreadId() != driverThread) SetEvent(driverWake);
    });
    model.onNotice([this](LPARAM lParam) {
        SendMessageA(playlistEditor, TRACK_CHANGE_MESSAGE, TRACK_CHANGE_WPARAM, lParam);
        SetEvent(driverWake);  // the title update follows: the driver wakes to send it
    });
    static int folders = 0;
    // The files live on drive C:, where the player writes them, so that a flush finds them.
    if (!winshim::driveMapped('C')) {
        ownDrive = emptyFolder("drive-" + std::to_string(folders + 1));
        winshim::mapDrive('C', ownDrive);
    }
    // A flush of a file of the player's puts what the player wrote on its disk; each
    // journal reaching its disk must name every file a power cut could leave stamped.
    winshim::setOnDiskWrite([this](const std::string& path) {
        if (path.size() > 14 && path.compare(path.size() - 14, 14, "/vorlu.journal") == 0) checkPowerCut();
        for (const auto& [file, artist] : model.storedArtists()) {
            if (winshim::nativePathOf(file) == path) model.markOnDisk(file);
        }
    });
    model.onCommit([](const standin::Commit& commit) { placeOnDisk(commit.file); });
    ownFolder = !options.journalFolder;
    journalFolder = ownFolder ? emptyFolder("unit-" + std::to_string(++folders)) : *options.journalFolder;
    model.setSettingsFolder(journalFolder);
    winshim::setProcess(options.processId, options.processCreation);
    for (const auto& [file, artist] : options.storedArtists) model.setStoredArtist(file, artist);
    for (const auto& [file, values] : options.notYetOnDisk) model.setNotYetOnDisk(file, values);
    replacePlaylist(std::move(playlist));
    model.setPlaylistEditor(options.hasPlaylistEditor ? playlistEditor : nullptr);
    // A file a journal entry names may go back to the entry's original; any other to what it holds.
    auto stored = model.storedArtists();
    anyJournalEntryOnDisk([&](const JournalEntry& entry) {
        auto file = stored.find(fileOfEntry(entry));
        if (file != stored.end()) originalsAtStart[file->first].insert(originalOfEntry(entry));
        return false;
    });
    for (const auto& [file, artist] : stored)
        if (!originalsAtStart.count(file)) originalsAtStart[file].insert(artist);
    driverThread = winshim::currentThreadId();
    if (options.init) {
        winampGeneralPurposePlugin* descriptor = winampGetGeneralPurposePlugin();
        descriptor->hwndParent = mainWindow;
        descriptor->init();
        if (!options.settleRepair) return;
        winshim::runUntilThreadsEnd(60000);
        winshim::restartThreadsAndClock(options.realTimeDivisor);
        driverThread = winshim::currentThreadId();
    }
}

PluginSession::~PluginSession() {
    // What an override captured may be gone already: the host answers as itself from here.
    overrideAnswer = nullptr;
    finish();
    EXPECT_EQ(brokenInvariant(), "");
    current = nullptr;
    if (ownFolder) std::filesystem::remove_all(journalFolder);
    if (!ownDrive.empty()) {
        winshim::unmapDrive('C');
        std::filesystem::remove_all(ownDrive);
    }
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

std::vector<JournalEntry> entriesOf(const std::string& bytes) {
    std::vector<JournalEntry> entries;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    int size = static_cast<int>(bytes.size());
    static JournalEntry entry;
    bool valid;
    for (int offset = JOURNAL_HEADER_SIZE; (offset = readJournalEntry(data, size, offset, &entry, &valid)) >= 0;) {
        if (valid) entries.push_back(entry);
    }
    return entries;
}

int journalEntrySizeOf(const std::string& file, const std::string& original) {
    return journalEntrySize(trackFileOf(file), standin::utf16FromUtf8(original).c_str());
}

std::size_t fillJournal(const std::string& folder, DWORD processId, int room) {
    const std::string file = "Q:\\o\\1.mp3";
    std::string path = folder + "/vorlu.journal", filler;
    {
        PluginSession theirs({{file, "x", 60}}, {.journalFolder = folder, .processId = processId});
        auto record = [&](const std::string& original) {
            std::size_t before = bytesOf(path).size();
            unsigned int sequence = 0;
            journalRecord(trackFileOf(file), standin::utf16FromUtf8(original).c_str(), &sequence);
            return bytesOf(path).substr(before);
        };
        std::string one = record("x");
        std::size_t left = JOURNAL_BUFFER_SIZE - room - JOURNAL_HEADER_SIZE - journalEntrySizeOf(file, "");
        std::size_t copies = left / one.size();
        // The rest, to the byte, in one entry with a longer original.
        std::string last = record(std::string((left - copies * one.size()) / 2, 'y'));
        for (std::size_t i = 0; i < copies; ++i) filler += one;
        filler += last;
    }
    std::string full = bytesOf(path).substr(0, JOURNAL_HEADER_SIZE) + filler;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << full;
    return entriesOf(full).size();
}

long long PluginSession::journalSize() const {
    std::error_code none;
    auto size = std::filesystem::file_size(journalFolder + "/vorlu.journal", none);
    return none ? 0 : static_cast<long long>(size);
}

std::string asVersion1(const std::string& journal) {
    auto read32 = [&](std::size_t at) {
        unsigned int value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(journal[at + i]);
        return value;
    };
    auto text32 = [](unsigned int value) {
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
        return bytes;
    };
    std::string old = journal.substr(0, JOURNAL_HEADER_SIZE);
    if (old.size() < JOURNAL_HEADER_SIZE) return journal;
    old.replace(8, 4, text32(1));
    for (std::size_t at = JOURNAL_HEADER_SIZE; at + 8 <= journal.size();) {
        std::size_t size = read32(at);
        if (size < 28 || at + 8 + size > journal.size()) break;
        // The same payload without the flags and the volume's serial, 16 bits kept as zero.
        std::string payload =
            journal.substr(at + 8, 22) + std::string(2, '\0') + journal.substr(at + 8 + 28, size - 28);
        unsigned int crc = 0xFFFFFFFFu;
        for (char byte : payload) {
            crc ^= static_cast<unsigned char>(byte);
            for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        old += text32(static_cast<unsigned int>(payload.size())) + text32(~crc) + payload;
        at += 8 + size;
    }
    return old;
}

std::string emptyFolder(const std::string& name) {
    auto folder = std::filesystem::temp_directory_path() / ("vorlu-" + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string();
}

LRESULT CALLBACK PluginSession::mainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        current->model.freePlaylist();
        current->model.shutDown();
    } else if (message == WM_ENDSESSION && wParam) {
        current->stop();
        current->model.freePlaylist();
        current->quitPlugin();
        current->model.shutDown();
    }
    if (message == WM_COMMAND) {
        // The player's buttons: a start sends its notices, a stop its own.
        bool wasPlaying = current->model.state() != standin::PlayState::Stopped;
        if (current->model.command(wParam))
            current->started();
        else if (wasPlaying && current->model.state() == standin::PlayState::Stopped)
            current->sendNotice(false);
    }
    if (message == WM_WA_IPC && lParam != IPC_CB_MISC) {
        if (lParam == IPC_SET_EXTENDED_FILE_INFO || lParam == IPC_SET_EXTENDED_FILE_INFOW) {
            if (current->setTakesMs > 0) Sleep(current->setTakesMs);
            current->checkJournalAtSet(wParam, lParam);
        }
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

std::vector<TitleUpdate> PluginSession::titleUpdates() const {
    std::lock_guard<std::mutex> lock(messagesMutex);
    return titleLog;
}

std::vector<Message> PluginSession::editorMessages() const {
    std::lock_guard<std::mutex> lock(messagesMutex);
    return editorLog;
}

void PluginSession::replacePlaylist(std::vector<standin::Entry> playlist) {
    // A file already known keeps the original it had; the model keeps its stored tags too.
    {
        std::lock_guard<std::mutex> lock(messagesMutex);
        for (const auto& entry : playlist) originals.emplace(entry.file, entry.artist);
    }
    asWindowsThread([this, &playlist] { model.setPlaylist(std::move(playlist)); });
}

void PluginSession::insertEntry(int at, standin::Entry entry) {
    {
        std::lock_guard<std::mutex> lock(messagesMutex);
        originals.emplace(entry.file, entry.artist);
    }
    model.insertEntry(at, std::move(entry));
}

void PluginSession::sendNotice(bool titleUpdate) {
    std::size_t logged = 0;
    int threadsBefore = winshim::threadsStarted();
    if (titleUpdate) {
        const auto& list = model.playlist();
        auto index = static_cast<std::size_t>(model.currentIndex());
        bool entry = index < list.size();
        std::lock_guard<std::mutex> lock(messagesMutex);
        titleLog.push_back(TitleUpdate{winshim::now(), entry ? list[index].file : std::string(), model.state(),
                                       model.position(), entry ? list[index].lengthSeconds : -1, journalSize()});
        logged = titleLog.size();
    }
    if (titleUpdate) model.titleUpdate();
    LPARAM lParam = model.currentIndex() | (titleUpdate ? TRACK_CHANGE_LPARAM_BIT : 0);
    SendMessageA(playlistEditor, TRACK_CHANGE_MESSAGE, TRACK_CHANGE_WPARAM, lParam);
    if (logged == 0) return;
    std::lock_guard<std::mutex> lock(messagesMutex);
    titleLog[logged - 1].workersStarted = winshim::threadsStarted() - threadsBefore;
}

void PluginSession::sendTrackChangeNotice() {
    asWindowsThread([this] { sendNotice(true); });
}

void PluginSession::started() {
    sendNotice(false);
    if (model.takeTitleNotice()) sendNotice(true);
}

template <typename Action>
void PluginSession::asWindowsThread(Action action) {
    winshim::WindowsThread turn;
    action();
    deliverPosted();
}

void PluginSession::deliverPosted() {
    for (;;) {
        WPARAM what;
        {
            std::lock_guard<std::mutex> lock(postedMutex);
            if (posted.empty()) return;
            what = posted.front();
            posted.erase(posted.begin());
        }
        // Posted messages to a window destroyed since are never delivered.
        if (WNDPROC procedure = winshim::windowProcedure(mainWindow))
            procedure(mainWindow, WM_WA_IPC, what, IPC_CB_MISC);
    }
}

void PluginSession::play() {
    asWindowsThread([this] {
        if (model.play()) started();
    });
}

void PluginSession::pause() {
    asWindowsThread([this] { model.pause(); });
}

void PluginSession::resume() {
    asWindowsThread([this] { model.resume(); });
}

void PluginSession::seek(long long ms) {
    asWindowsThread([this, ms] { model.seek(ms); });
}

void PluginSession::stop() {
    asWindowsThread([this] {
        bool wasPlaying = model.state() != standin::PlayState::Stopped;
        model.stop();
        if (wasPlaying) sendNotice(false);
    });
}

void PluginSession::next() {
    asWindowsThread([this] {
        if (model.next()) started();
    });
}

void PluginSession::previous() {
    asWindowsThread([this] {
        if (model.previous()) started();
    });
}

void PluginSession::jump(int index) {
    asWindowsThread([this, index] {
        if (model.jump(index)) started();
    });
}

void PluginSession::runUntil(long long time) {
    for (;;) {
        asWindowsThread([this] {
            if (model.takeTitleNotice()) sendNotice(true);
            if (model.advanceIfEnded()) started();
            model.displayTimerTick();
        });
        long long now = winshim::now();
        if (now >= time) return;
        long long next = time;
        for (long long due : {model.endTime(), model.titleNoticeDue()}) {
            if (due >= 0 && due < next) next = std::max(due, now + 1);
        }
        // Woken early when the host schedules a title update from within a request.
        WaitForSingleObject(driverWake, static_cast<DWORD>(next - now));
    }
}

void PluginSession::quitPlugin() {
    storedWhenQuitCalled = model.storedArtists();
    plugin.quit();
}

bool PluginSession::exit() {
    if (SendMessageA(mainWindow, WM_WA_IPC, 0, IPC_HOOK_OKTOQUIT) == 0) return false;
    stop();
    SendMessageA(mainWindow, WM_DESTROY, 0, 0);
    winshim::destroyWindow(playlistEditor);
    winshim::destroyWindow(mainWindow);
    quitPlugin();
    return true;
}

void PluginSession::logOff() { SendMessageA(mainWindow, WM_ENDSESSION, TRUE, 0); }

void PluginSession::cancelledLogOff() { SendMessageA(mainWindow, WM_ENDSESSION, FALSE, 0); }

void PluginSession::runFor(long long duration) { runUntil(winshim::now() + duration); }

bool PluginSession::finish() {
    asWindowsThread([this] { model.stop(); });
    return winshim::runUntilThreadsEnd(600000);
}

bool PluginSession::everyPlaybackChangeOfOursIsABlip(std::string* why, long long until) const {
    *why = model.firstChangeOfPluginsNotUndone(100, until);
    return why->empty();
}

// A single-byte text as the journal keeps it, a unit a byte.
static std::string bytesOfUnits(const textUnit* units) {
    std::string bytes;
    for (; *units != 0; ++units) bytes += static_cast<char>(*units);
    return bytes;
}

bool PluginSession::anyJournalEntryOnDisk(const std::function<bool(const JournalEntry&)>& matches) const {
    // The folders a journal may be in: the host's, and the library's.
    std::string library = winshim::modulePath();
    std::replace(library.begin(), library.end(), '\\', '/');
    for (const std::string& folder : {journalFolder, library.substr(0, library.find_last_of('/'))}) {
        std::string bytes = winshim::bytesOnDisk(folder + "/vorlu.journal").value_or("");
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        static thread_local JournalEntry entry;
        bool valid;
        for (int at = JOURNAL_HEADER_SIZE;
             (at = readJournalEntry(data, static_cast<int>(bytes.size()), at, &entry, &valid)) >= 0;)
            if (valid && matches(entry)) return true;
    }
    return false;
}

std::string PluginSession::fileOfEntry(const JournalEntry& entry) const {
    return entry.file.wide ? standin::utf8FromUtf16(entry.file.name) : model.fileOfName(bytesOfUnits(entry.file.name));
}

std::string PluginSession::originalOfEntry(const JournalEntry& entry) const {
    return entry.file.wide ? standin::utf8FromUtf16(entry.original)
                           : model.utf8OfSingleByte(bytesOfUnits(entry.original));
}

void PluginSession::checkJournalAtSet(WPARAM wParam, LPARAM code) {
    if (winshim::currentThreadId() == driverThread) return;
    TrackFile file{};
    file.wide = code == IPC_SET_EXTENDED_FILE_INFOW;
    std::string name = fileOfSet(wParam, code);
    // A wide name in UTF-8; a single-byte one as its bytes.
    std::u16string units = file.wide ? standin::utf16FromUtf8(name) : std::u16string(name.begin(), name.end());
    for (std::size_t i = 0; i < units.size(); ++i) file.name[i] = file.wide ? units[i] : units[i] & 0xFF;
    if (anyJournalEntryOnDisk([&](const JournalEntry& entry) { return sameFileName(entry.file, file); })) return;
    std::lock_guard<std::mutex> lock(messagesMutex);
    setsWithoutEntry.push_back("a set of " + fileOfSet(wParam, code) + " at " + std::to_string(winshim::now()) +
                               " with no journal entry for it on disk");
}

void PluginSession::checkPowerCut() {
    std::vector<standin::Commit> commits = model.commits();
    auto mayHoldWithoutEntry = [&](const std::string& file, const std::string& value) {
        auto atStart = originalsAtStart.find(file);
        std::lock_guard<std::mutex> lock(messagesMutex);
        return (atStart != originalsAtStart.end() && atStart->second.count(value)) ||
               (originals.count(file) && originals.at(file) == value) ||
               std::any_of(commits.begin(), commits.end(), [&](const standin::Commit& commit) {
                   return commit.byHand && commit.artist == value && standin::sameFile(commit.file, file);
               });
    };
    for (const auto& [file, values] : model.valuesAPowerCutMayLeave()) {
        auto unsafe = std::find_if(values.begin(), values.end(),
                                   [&](const std::string& value) { return !mayHoldWithoutEntry(file, value); });
        if (unsafe == values.end() || anyJournalEntryOnDisk([&](const JournalEntry& entry) {
                return standin::sameFile(fileOfEntry(entry), file);
            }))
            continue;
        std::lock_guard<std::mutex> lock(messagesMutex);
        setsWithoutEntry.push_back("a power cut at " + std::to_string(winshim::now()) + " could leave " + file +
                                   " holding \"" + *unsafe + "\", which no journal entry on disk names");
        return;
    }
}

std::string PluginSession::brokenInvariant() const {
    {
        std::lock_guard<std::mutex> lock(messagesMutex);
        if (!setsWithoutEntry.empty()) return setsWithoutEntry.front();
    }
    if (virtualClock) {
        std::string against = model.firstWriteAgainstPlayback();
        if (!against.empty()) return against;
    }
    // What each thread was last answered for the position and the length, and which file played then.
    struct Answered {
        long long position = 0, length = 0;
        std::string positionOf, lengthOf;
        bool asked = false;
    };
    std::map<std::string, Answered> answers;
    for (const auto& request : model.requests()) {
        Answered& answered = answers[request.sender];
        if (request.code == IPC_GETOUTPUTTIME) {
            bool position = request.wParam == IPC_GETOUTPUTTIME_POSITION_MS;
            (position ? answered.position : answered.length) = request.answer;
            (position ? answered.positionOf : answered.lengthOf) = request.file;
            answered.asked = true;
        }
        bool set = request.code == IPC_SET_EXTENDED_FILE_INFO || request.code == IPC_SET_EXTENDED_FILE_INFOW;
        if (!set || !virtualClock || request.sender == std::to_string(driverThread) || !answered.asked) continue;
        // A stamp made from those answers: they must be of the file it is written into.
        std::string timeText = expectedTimeText(answered.position, answered.length);
        bool stamp = request.value.size() > timeText.size() &&
                     request.value.compare(request.value.size() - timeText.size(), timeText.size(), timeText) == 0;
        if (stamp && (!standin::sameFile(answered.positionOf, request.file) ||
                      !standin::sameFile(answered.lengthOf, request.file)))
            return "\"" + request.value + "\" stamped into " + request.file + " at " + std::to_string(request.time) +
                   " with the times of " + (answered.positionOf.empty() ? "nothing playing" : answered.positionOf);
    }
    return "";
}

std::vector<std::string> PluginSession::artistHistory(const std::string& file) const {
    std::vector<std::string> history{originals.at(file)};
    for (const auto& commit : commitsOf(file)) history.push_back(commit.artist);
    return history;
}

std::string PluginSession::expectedEnd(const std::string& file) const {
    std::string end = originals.at(file);
    for (const auto& commit : commitsOf(file)) {
        if (commit.byHand) end = commit.artist;
    }
    return end;
}

std::vector<standin::Commit> PluginSession::commitsOf(const std::string& file) const {
    std::vector<standin::Commit> result;
    for (const auto& commit : model.commits()) {
        if (standin::sameFile(commit.file, file)) result.push_back(commit);
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

std::string PluginSession::setWithoutItsWrite() const {
    const standin::Request* open = nullptr;
    for (const auto& request : model.requests()) {
        bool set = request.code == IPC_SET_EXTENDED_FILE_INFO || request.code == IPC_SET_EXTENDED_FILE_INFOW;
        if (open && set)
            return "\"" + open->value + "\" set by " + open->sender + " dropped by a set from " + request.sender;
        if (request.code == IPC_WRITE_EXTENDED_FILE_INFO) open = nullptr;
        if (set && request.answer != 0) open = &request;
    }
    return "";
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
