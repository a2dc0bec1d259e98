#include "player_model.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <regex>
#include <cstring>

namespace standin {

FileKind kindOf(const std::string& file) {
    std::string lower;
    for (char c : file) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0) return FileKind::Stream;
    std::string extension = lower.substr(lower.find_last_of('.') + 1);
    if (lower.find('.') == std::string::npos) extension.clear();
    if (extension == "flac") return FileKind::Flac;
    if (extension == "m4a") return FileKind::M4a;
    if (extension == "wma" || extension == "wmv" || extension == "asf") return FileKind::Wma;
    if (extension == "ogg") return FileKind::Ogg;
    if (extension == "wav") return FileKind::Wav;
    return FileKind::Mp3;
}

bool SameFileLess::operator()(const std::string& a, const std::string& b) const {
    std::u16string x = utf16FromUtf8(a), y = utf16FromUtf8(b);
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(),
                                        [](char16_t p, char16_t q) { return upperCaseLetter(p) < upperCaseLetter(q); });
}

bool sameFile(const std::string& a, const std::string& b) { return !SameFileLess()(a, b) && !SameFileLess()(b, a); }

std::string titleOf(const Entry& entry) {
    std::size_t folder = entry.file.find_last_of("\\/");
    std::string name = folder == std::string::npos ? entry.file : entry.file.substr(folder + 1);
    std::size_t dot = name.find_last_of('.');
    return entry.heldArtist + " - " + (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot));
}

std::string describe(const PlayStart& start) {
    const char* who = start.by == Starter::Listener  ? "the listener's start"
                      : start.by == Starter::Restart ? "the host's restart"
                                                     : "a plug-in's press of play";
    return std::string(who) + " of " + start.file + " at " + std::to_string(start.time) +
           (start.counted ? ", counted as a play" : ", not counted");
}

PlayerModel::PlayerModel(Clock clock) : clock(std::move(clock)) {}

void PlayerModel::setTagStore(TagStore store) {
    std::lock_guard<std::mutex> lock(mutex);
    tagStore = std::move(store);
}

void PlayerModel::refreshLocked(const std::string& file) {
    if (!tagStore.read || file.empty()) return;
    std::optional<std::string> artist = tagStore.read(file);
    auto known = stored.find(file);
    if (artist && known != stored.end()) known->second = *artist;
}

void PlayerModel::readTitleLocked(Entry& entry) {
    refreshLocked(entry.file);
    auto artist = stored.find(entry.file);
    entry.heldArtist = artist == stored.end() ? std::string() : artist->second;
    entry.titleReadAfterWrites = hostWrites;
    entry.titleMarked = false;
}

void PlayerModel::setPlaylist(std::vector<Entry> newEntries) {
    std::lock_guard<std::mutex> lock(mutex);
    entries = std::move(newEntries);
    for (Entry& entry : entries) {
        stored.emplace(entry.file, entry.artist);
        artistBases.emplace(entry.file, stored.find(entry.file)->second);
        onDisk.emplace(entry.file, stored.find(entry.file)->second);
        readTitleLocked(entry);
    }
    index = 0;
    changeStateLocked(PlayState::Stopped);
}

void PlayerModel::freePlaylist() {
    std::lock_guard<std::mutex> lock(mutex);
    entries.clear();
    index = 0;
    changeStateLocked(PlayState::Stopped);
    titleNoticeAt = -1;
}

void PlayerModel::shutDown() {
    std::lock_guard<std::mutex> lock(mutex);
    inputPluginsShutDown = true;
    pending.reset();
}

void PlayerModel::setPlaylistEditor(HWND window) {
    std::lock_guard<std::mutex> lock(mutex);
    playlistEditor = window;
}

int PlayerModel::positionLocked() const {
    switch (playState) {
    case PlayState::Stopped:
        return -1;
    case PlayState::Paused:
        return static_cast<int>(positionBase);
    case PlayState::Playing:
        break;
    }
    long long position = positionBase + (clock() - startedAt);
    long long end = endLocked();
    return static_cast<int>(std::max(0LL, end < 0 ? position : std::min(position, end)));
}

void PlayerModel::changeStateLocked(PlayState state) {
    if (state == playState) return;
    playState = state;
    stateLog.push_back(PlayStateChange{clock(), state, servingPlugin, false, currentLocked()});
    postStatusLocked(IPC_CB_MISC_STATUS);
}

std::string PlayerModel::currentLocked() const {
    return entries.empty() ? std::string() : entries[static_cast<std::size_t>(index)].file;
}

void PlayerModel::postStatusLocked(WPARAM what) {
    LRESULT since = what == IPC_CB_MISC_STATUS ? HOST_VERSION_STATUS_CALLBACK : HOST_VERSION_PAUSE_CALLBACKS;
    if (statusCallback && hostVersion >= since) statusCallback(what);
}

void PlayerModel::onStatus(std::function<void(WPARAM)> callback) {
    std::lock_guard<std::mutex> lock(mutex);
    statusCallback = std::move(callback);
}

std::vector<PlayStateChange> PlayerModel::playStates() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<PlayStateChange> changes;
    std::copy_if(stateLog.begin(), stateLog.end(), std::back_inserter(changes),
                 [](const PlayStateChange& change) { return !change.listenerAction; });
    return changes;
}

std::vector<PlayStateChange> PlayerModel::playHistory() const {
    std::lock_guard<std::mutex> lock(mutex);
    return stateLog;
}

long long PlayerModel::endLocked() const {
    if (kindOf(entries[index].file) == FileKind::Stream) return -1;
    return static_cast<long long>(entries[index].lengthSeconds) * 1000;
}

bool PlayerModel::startLocked(int newIndex, Starter by) {
    if (newIndex < 0 || newIndex >= static_cast<int>(entries.size())) return false;
    index = newIndex;
    Entry& entry = entries[static_cast<std::size_t>(index)];
    startLog.push_back(PlayStart{clock(), entry.file, by, tracking});
    lastPlayedFile = entry.file;
    readTitleLocked(entry);
    // A start over a playing entry is a start all the same.
    if (playState == PlayState::Playing) postStatusLocked(IPC_CB_MISC_STATUS);
    changeStateLocked(PlayState::Playing);
    positionBase = 0;
    startedAt = clock();
    stoppedForSet = false;
    restartSettles = -1;
    scheduleTitleNoticeLocked();
    return true;
}

bool PlayerModel::playFromStopLocked(Starter by) {
    int start = index;
    bool current = start >= 0 && start < static_cast<int>(entries.size()) &&
                   sameFile(entries[static_cast<std::size_t>(start)].file, lastPlayedFile);
    for (int i = 0; !tracking && !current && i < static_cast<int>(entries.size()); ++i) {
        if (sameFile(entries[static_cast<std::size_t>(i)].file, lastPlayedFile)) {
            start = i;
            current = true;
        }
    }
    return startLocked(start, by);
}

void PlayerModel::scheduleTitleNoticeLocked() {
    titleNoticeAt = clock() + std::uniform_int_distribution<long long>(titleDelayMin, titleDelayMax)(titleDelays);
}

void PlayerModel::setTitleNoticeDelay(long long minMs, long long maxMs, unsigned seed) {
    std::lock_guard<std::mutex> lock(mutex);
    titleDelayMin = minMs;
    titleDelayMax = std::max(minMs, maxMs);
    titleDelays.seed(seed);
}

long long PlayerModel::titleNoticeDue() const {
    std::lock_guard<std::mutex> lock(mutex);
    return titleNoticeAt;
}

bool PlayerModel::takeTitleNotice() {
    std::lock_guard<std::mutex> lock(mutex);
    if (titleNoticeAt < 0 || clock() < titleNoticeAt) return false;
    titleNoticeAt = -1;
    return true;
}

void PlayerModel::onNotice(std::function<void(LPARAM)> callback) { noticeCallback = std::move(callback); }

void PlayerModel::setFaults(const std::string& file, FileFaults fileFaults) {
    std::lock_guard<std::mutex> lock(mutex);
    faults[file] = fileFaults;
}

bool PlayerModel::playingFileLocked(const std::string& file) const {
    return playState != PlayState::Stopped && !entries.empty() &&
           sameFile(entries[static_cast<std::size_t>(index)].file, file);
}

bool PlayerModel::setLocked(const std::string& file, const std::string& value, bool accepted,
                            std::vector<LPARAM>& notices) {
    auto fault = faults.find(file);
    FileKind kind = kindOf(file);
    bool stopsOnSet =
        kind == FileKind::M4a || kind == FileKind::Wma || (fault != faults.end() && fault->second.stopsOnSet);
    // No tag writer for wav and streams; a read-only file refuses every set.
    accepted = accepted && kind != FileKind::Wav && kind != FileKind::Stream &&
               !(fault != faults.end() && fault->second.readOnly);
    if (stopsOnSet && playingFileLocked(file)) {
        // Stopped before the set; only its write starts the file again. The m4a plug-in
        // turns play tracking off around its stop, and on again after.
        if (kind != FileKind::Wma) tracking = true;
        stoppedAt = positionLocked();
        wasPaused = playState == PlayState::Paused;
        changeStateLocked(PlayState::Stopped);
        stoppedForSet = accepted;
        if (!accepted) refusedStopLog.emplace_back(clock(), file);
        titleNoticeAt = -1;
        notices.push_back(index);
    }
    if (!accepted) return false;
    pending = PendingEdit{file, value};
    return true;
}

LRESULT PlayerModel::writeLocked(std::vector<Commit>& changed, std::vector<LPARAM>& notices) {
    if (!pending) return 0;
    PendingEdit edit = std::move(*pending);
    pending.reset();
    FileKind kind = kindOf(edit.file);
    bool restart = stoppedForSet || (playingFileLocked(edit.file) && (kind == FileKind::Mp3 || kind == FileKind::Flac));
    LRESULT result = 0;
    auto fault = faults.find(edit.file);
    bool landsButFails = fault != faults.end() && fault->second.writesLandButFail;
    if (!writeAccepted || writeAccepted(edit.file)) {
        refreshLocked(edit.file);
        auto file = stored.find(edit.file);
        if (file != stored.end() && file->second != edit.value) {
            file->second = edit.value;
            edit.file = file->first;
            if (tagStore.write) tagStore.write(edit.file, edit.value);
            cached[edit.file].emplace_back(clock(), edit.value);
            lastWriteOf[edit.file] = ++hostWrites;
            commitLog.push_back(Commit{clock(), edit.file, edit.value});
            changed.push_back(commitLog.back());
        }
        result = landsButFails ? 0 : 1;
    }
    if (restart) {
        // The input plug-in stops the file for the write and starts it again where it stood.
        long long at = stoppedForSet ? stoppedAt : positionLocked();
        bool paused = stoppedForSet ? wasPaused : playState == PlayState::Paused;
        if (!stoppedForSet) notices.push_back(index);
        // A stop and a start, though the state may read the same before and after.
        PlayState before = playState;
        if (!stoppedForSet) postStatusLocked(IPC_CB_MISC_STATUS);
        stoppedForSet = false;
        // The wma plug-in starts the file playing whatever it was.
        changeStateLocked(paused && kind != FileKind::Wma ? PlayState::Paused : PlayState::Playing);
        if (playState == before) postStatusLocked(IPC_CB_MISC_STATUS);
        positionBase = at;
        startedAt = clock();
        // A start like any other for the wma plug-in's press of play; the others restart
        // with play tracking off, and turn it on after.
        Entry& entry = entries[static_cast<std::size_t>(index)];
        startLog.push_back(PlayStart{clock(), entry.file, Starter::Restart, kind == FileKind::Wma && tracking});
        if (kind != FileKind::Wma) tracking = true;
        readTitleLocked(entry);
        notices.push_back(index);
        if (kind == FileKind::Flac) {
            titleFromWrite = true;
            titleNoticeAt = restartSettles = -1;
            notices.push_back(index | TRACK_CHANGE_LPARAM_BIT);
        } else {
            scheduleTitleNoticeLocked();
            restartSettles = titleNoticeAt;
        }
    }
    return result;
}

bool PlayerModel::play() {
    std::lock_guard<std::mutex> lock(mutex);
    ListenerAction acted{*this};
    if (playState == PlayState::Paused) {
        resumeLocked();
        return false;
    }
    if (playState == PlayState::Playing) return false;
    return playFromStopLocked(Starter::Listener);
}

void PlayerModel::pauseLocked() {
    if (playState != PlayState::Playing) return;
    positionBase = positionLocked();
    changeStateLocked(PlayState::Paused);
    postStatusLocked(IPC_CB_MISC_PAUSE);
}

void PlayerModel::resumeLocked() {
    if (playState != PlayState::Paused) return;
    startedAt = clock();
    changeStateLocked(PlayState::Playing);
    postStatusLocked(IPC_CB_MISC_UNPAUSE);
}

void PlayerModel::stopLocked() {
    changeStateLocked(PlayState::Stopped);
    stoppedForSet = false;
    titleNoticeAt = -1;
}

void PlayerModel::pause() {
    std::lock_guard<std::mutex> lock(mutex);
    ListenerAction acted{*this};
    pauseLocked();
}

void PlayerModel::resume() {
    std::lock_guard<std::mutex> lock(mutex);
    ListenerAction acted{*this};
    resumeLocked();
}

void PlayerModel::stop() {
    std::lock_guard<std::mutex> lock(mutex);
    ListenerAction acted{*this};
    stopLocked();
}

bool PlayerModel::command(WPARAM id, Starter by) {
    std::lock_guard<std::mutex> lock(mutex);
    ListenerAction acted{*this, by == Starter::Listener};
    servingPlugin = by == Starter::Plugin;
    bool started = false;
    if (id == HOST_BUTTON_PLAY && playState == PlayState::Playing) {
        started = startLocked(index, by);
    } else if (id == HOST_BUTTON_PLAY && playState == PlayState::Stopped) {
        started = playFromStopLocked(by);
    } else if (id == HOST_BUTTON_PLAY || (id == HOST_BUTTON_PAUSE && playState == PlayState::Paused)) {
        resumeLocked();
    } else if (id == HOST_BUTTON_PAUSE) {
        pauseLocked();
    } else if (id == HOST_BUTTON_STOP) {
        stopLocked();
    }
    servingPlugin = false;
    return started;
}

void PlayerModel::seek(long long ms) {
    std::lock_guard<std::mutex> lock(mutex);
    if (playState == PlayState::Stopped) return;
    ListenerAction acted{*this};
    long long end = endLocked();
    positionBase = std::max(0LL, end < 0 ? ms : std::min(ms, end));
    startedAt = clock();
}

bool PlayerModel::next() {
    std::lock_guard<std::mutex> lock(mutex);
    ListenerAction acted{*this};
    return startLocked(index + 1, Starter::Listener);
}

bool PlayerModel::previous() {
    std::lock_guard<std::mutex> lock(mutex);
    ListenerAction acted{*this};
    return startLocked(index - 1, Starter::Listener);
}

bool PlayerModel::jump(int newIndex) {
    std::lock_guard<std::mutex> lock(mutex);
    ListenerAction acted{*this};
    return startLocked(newIndex, Starter::Listener);
}

void PlayerModel::insertEntry(int at, Entry entry) {
    std::lock_guard<std::mutex> lock(mutex);
    at = std::max(0, std::min(at, static_cast<int>(entries.size())));
    stored.emplace(entry.file, entry.artist);
    artistBases.emplace(entry.file, stored.find(entry.file)->second);
    onDisk.emplace(entry.file, stored.find(entry.file)->second);
    readTitleLocked(entry);
    entries.insert(entries.begin() + at, std::move(entry));
    if (at <= index && entries.size() > 1) ++index;
}

void PlayerModel::removeEntry(int at) {
    std::lock_guard<std::mutex> lock(mutex);
    if (at < 0 || at >= static_cast<int>(entries.size()) || at == index) return;
    entries.erase(entries.begin() + at);
    if (at < index) --index;
}

void PlayerModel::setRepeatOne(bool repeat) {
    std::lock_guard<std::mutex> lock(mutex);
    repeatOne = repeat;
}

bool PlayerModel::advanceIfEnded() {
    std::lock_guard<std::mutex> lock(mutex);
    if (playState != PlayState::Playing) return false;
    long long end = endLocked();
    if (end < 0 || positionBase + (clock() - startedAt) < end) return false;
    if (startLocked(repeatOne ? index : index + 1, Starter::Listener)) return true;
    changeStateLocked(PlayState::Stopped);
    return false;
}

long long PlayerModel::endTime() const {
    std::lock_guard<std::mutex> lock(mutex);
    if (playState != PlayState::Playing || endLocked() < 0) return -1;
    return startedAt + endLocked() - positionBase;
}

int PlayerModel::position() const {
    std::lock_guard<std::mutex> lock(mutex);
    return positionLocked();
}

int PlayerModel::currentIndex() const {
    std::lock_guard<std::mutex> lock(mutex);
    return index;
}

PlayState PlayerModel::state() const {
    std::lock_guard<std::mutex> lock(mutex);
    return playState;
}

void PlayerModel::titleUpdate() {
    std::lock_guard<std::mutex> lock(mutex);
    if (index < static_cast<int>(entries.size())) readTitleLocked(entries[static_cast<std::size_t>(index)]);
}

void PlayerModel::displayTimerTick() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!titleUpdateAsked || playState != PlayState::Playing) return;
    titleUpdateAsked = false;
    readTitleLocked(entries[static_cast<std::size_t>(index)]);
}

std::vector<std::string> PlayerModel::paintTitles(std::size_t first, std::size_t count) {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> titles;
    for (std::size_t i = first; i < entries.size() && i < first + count; ++i) {
        if (entries[i].titleMarked) readTitleLocked(entries[i]);
        titles.push_back(titleOf(entries[i]));
    }
    return titles;
}

std::string PlayerModel::savedPlaylist() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::string m3u = "#EXTM3U\n";
    for (const Entry& entry : entries)
        m3u += "#EXTINF:" + std::to_string(entry.lengthSeconds) + "," + titleOf(entry) + "\n" + entry.file + "\n";
    return m3u;
}

std::vector<std::string> PlayerModel::staleTitles() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> stale;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto written = lastWriteOf.find(entries[i].file);
        if (!entries[i].titleMarked && written != lastWriteOf.end() &&
            entries[i].titleReadAfterWrites < written->second)
            stale.push_back("entry " + std::to_string(i + 1) + " shows \"" + titleOf(entries[i]) + "\"");
    }
    return stale;
}

// Whether value is base followed by one suffix a plug-in stamps: a time text or the pause mark.
static bool stampOf(const std::string& value, const std::string& base, bool* pauseMark) {
    static const std::regex suffix(R"( \((paused|-?[0-9]+:[0-9][0-9]/-?[0-9]+:[0-9][0-9])\))");
    if (value.size() <= base.size() || value.compare(0, base.size(), base) != 0) return false;
    std::string rest = value.substr(base.size());
    *pauseMark = rest == " (paused)";
    return std::regex_match(rest, suffix);
}

bool isStampOf(const std::string& value, const std::string& base) {
    bool pauseMark = false;
    return stampOf(value, base, &pauseMark);
}

std::string PlayerModel::firstWriteAgainstPlayback() const {
    std::lock_guard<std::mutex> lock(mutex);
    FileMap<std::string> bases;
    for (const Request& request : requestLog) {
        bool set = request.code == IPC_SET_EXTENDED_FILE_INFO || request.code == IPC_SET_EXTENDED_FILE_INFOW;
        if (request.code == EDIT_BY_HAND) bases[request.file] = request.value;
        if (!set || request.file.empty()) continue;
        auto base = bases.find(request.file);
        if (base == bases.end()) base = bases.emplace(request.file, artistBases.at(request.file)).first;
        bool pauseMark = false;
        if (!stampOf(request.value, base->second, &pauseMark)) continue;
        bool current = sameFile(request.current, request.file);
        if (!current || request.state == PlayState::Stopped || (pauseMark && request.state != PlayState::Paused))
            return "\"" + request.value + "\" set at " + std::to_string(request.time) + " while " +
                   (!current ? (request.current.empty() ? "nothing" : request.current) + " was current"
                    : request.state == PlayState::Stopped ? "its file stood stopped"
                                                          : "its file played");
    }
    return "";
}

std::string PlayerModel::firstChangeOfPluginsNotUndone(long long blipMs, long long until) const {
    std::lock_guard<std::mutex> lock(mutex);
    PlayState before = PlayState::Stopped, state = PlayState::Stopped;
    long long since = 0;
    bool open = false;  // a run of the plug-in's changes not yet undone
    for (const auto& change : stateLog) {
        if (until >= 0 && change.time > until) break;
        if (open && (change.time - since > blipMs || !change.byPlugin))
            return "a change of a plug-in's at " + std::to_string(since) + " was not undone by " +
                   std::to_string(change.time) + (change.byPlugin ? "" : ", when the listener acted");
        if (change.byPlugin && !open) {
            open = true;
            before = state;
            since = change.time;
        }
        state = change.state;
        if (open && state == before) open = false;
    }
    return open ? "a change of a plug-in's at " + std::to_string(since) + " was never undone" : "";
}

std::vector<PlayStart> PlayerModel::starts() const {
    std::lock_guard<std::mutex> lock(mutex);
    return startLog;
}

std::vector<std::pair<long long, std::string>> PlayerModel::refusedSetStops() const {
    std::lock_guard<std::mutex> lock(mutex);
    return refusedStopLog;
}

std::vector<std::string> PlayerModel::miscountedPlays() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> miscounted;
    for (const PlayStart& start : startLog) {
        if (start.counted != (start.by == Starter::Listener)) miscounted.push_back(describe(start));
    }
    return miscounted;
}

bool PlayerModel::playTracking() const {
    std::lock_guard<std::mutex> lock(mutex);
    return tracking;
}

// Whether name begins with prefix, ignoring the case of ASCII letters.
static bool beginsWithIgnoringCase(const std::u16string& name, const char16_t* prefix) {
    std::size_t i = 0;
    for (; prefix[i] != 0; ++i) {
        if (i >= name.size() || upperCaseLetter(name[i]) != upperCaseLetter(prefix[i])) return false;
    }
    return true;
}

void PlayerModel::acceptSets(std::function<bool(const std::string&, const std::string&)> accept) {
    std::lock_guard<std::mutex> lock(mutex);
    setAccepted = std::move(accept);
}

void PlayerModel::acceptReads(std::function<bool(const std::string&)> accept) {
    std::lock_guard<std::mutex> lock(mutex);
    readAccepted = std::move(accept);
}

void PlayerModel::acceptWrites(std::function<bool(const std::string&)> accept) {
    std::lock_guard<std::mutex> lock(mutex);
    writeAccepted = std::move(accept);
}

LRESULT PlayerModel::answer(WPARAM wParam, LPARAM code) {
    std::vector<Commit> changed;
    std::vector<LPARAM> notices;
    LRESULT result = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Request request{
            clock(),
            static_cast<int>(code),
            static_cast<long long>(static_cast<LONG>(wParam)),
            {},
            {},
            0,
            senderTagger ? senderTagger() : std::string(),
            0,
            playState == PlayState::Paused || (playState == PlayState::Playing && entries[index].lengthSeconds <= 0),
            playState,
            currentLocked(),
            positionLocked()};
        const auto* record = reinterpret_cast<const extendedFileInfoStruct*>(wParam);
        bool restarting = playState != PlayState::Stopped && clock() < restartSettles;
        auto fault = faults.end();
        servingPlugin = true;
        switch (inputPluginsShutDown ? -1 : code) {
        case -1:
            break;  // the host is closing: nothing answers any more
        case IPC_ISPLAYING:
            result = playState == PlayState::Playing  ? HOST_PLAYING
                     : playState == PlayState::Paused ? HOST_PAUSED
                                                      : HOST_STOPPED;
            break;
        case IPC_JUMPTOTIME:
            result = -1;
            if (playState != PlayState::Stopped) {
                long long end = endLocked();
                long long to = static_cast<long long>(static_cast<LONG>(wParam));
                positionBase = std::max(0LL, end < 0 ? to : std::min(to, end));
                startedAt = clock();
                result = 0;
            }
            break;
        case IPC_GETOUTPUTTIME:
            if (playState != PlayState::Stopped) request.file = entries[static_cast<std::size_t>(index)].file;
            if (wParam == IPC_GETOUTPUTTIME_POSITION_MS)
                result = titleFromWrite ? -1 : restarting ? 0 : positionLocked();
            else if (wParam == IPC_GETOUTPUTTIME_LENGTH_S)
                result = entries.empty() || restarting ? -1 : entries[index].lengthSeconds;
            break;
        case IPC_GETLISTPOS:
            result = index;
            break;
        case IPC_REFRESHPLCACHE: {
            if (hostVersion < HOST_VERSION_REFRESH_PLAYLIST) {
                result = 1;
                break;
            }
            // Before 5.3 the host takes no name: every entry is marked.
            const auto* prefix =
                hostVersion >= HOST_VERSION_REFRESH_BY_NAME ? reinterpret_cast<const char16_t*>(wParam) : nullptr;
            request.wParam = 0;
            if (prefix) request.file = fileOfDiskNameLocked(utf8FromUtf16(prefix));
            for (Entry& entry : entries) {
                if (!prefix || beginsWithIgnoringCase(utf16FromUtf8(diskNameLocked(entry.file)), prefix))
                    entry.titleMarked = true;
            }
            break;
        }
        case IPC_UPDTITLE:
            titleUpdateAsked = true;
            break;
        case IPC_ALLOW_PLAYTRACKING:
            if (hostVersion < HOST_VERSION_PLAY_TRACKING) {
                result = 1;
                break;
            }
            tracking = wParam != 0;
            request.value = tracking ? "on" : "off";
            break;
        case IPC_GETVERSION:
            result = hostVersion;
            break;
        case IPC_GETPLAYLISTFILE:
        case IPC_GETPLAYLISTFILEW: {
            bool wide = code == IPC_GETPLAYLISTFILEW;
            int entry = static_cast<int>(request.wParam);
            if (wide && !hasWideRequestsLocked()) {
                result = 1;
            } else if (entry >= 0 && entry < static_cast<int>(entries.size())) {
                std::string file = diskNameLocked(entries[static_cast<std::size_t>(entry)].file);
                if (wide) {
                    std::u16string name = utf16FromUtf8(file).substr(0, wideNameBuffer.size() - 1);
                    std::copy(name.begin(), name.end(), wideNameBuffer.begin());
                    wideNameBuffer[name.size()] = u'\0';
                    result = reinterpret_cast<LRESULT>(wideNameBuffer.data());
                } else {
                    std::string name = singleByte(file).substr(0, nameBuffer.size() - 1);
                    std::copy(name.begin(), name.end(), nameBuffer.begin());
                    nameBuffer[name.size()] = '\0';
                    result = reinterpret_cast<LRESULT>(nameBuffer.data());
                }
            }
            break;
        }
        case IPC_GETINIDIRECTORY:
            // Through the code page, as the host converts its own wide folder.
            settingsFolderBytes = singleByte(settingsFolder);
            result = settingsFolder.empty() ? 1 : reinterpret_cast<LRESULT>(settingsFolderBytes.c_str());
            break;
        case IPC_GETINIDIRECTORYW:
            settingsFolderUnits = utf16FromUtf8(settingsFolder);
            result = settingsFolder.empty() || hostVersion < HOST_VERSION_WIDE_SETTINGS_FOLDER
                         ? 1
                         : reinterpret_cast<LRESULT>(settingsFolderUnits.c_str());
            break;
        case IPC_GETWND:
            result = wParam == IPC_GETWND_PE ? reinterpret_cast<LRESULT>(playlistEditor) : 0;
            break;
        case IPC_GET_EXTENDED_FILE_INFO: {
            request.wParam = 0;
            request.file = fileOfSingleByteName(record->filename);
            refreshLocked(request.file);
            request.capacity = static_cast<long long>(record->retlen);
            auto value = stored.find(request.file);
            fault = faults.find(request.file);
            // A stream's title is known only while it plays.
            bool known = value != stored.end() && std::strcmp(record->metadata, "ARTIST") == 0 &&
                         (kindOf(request.file) != FileKind::Stream || playingFileLocked(request.file));
            if (known && (!readAccepted || readAccepted(request.file)) && record->retlen > 0) {
                // Like a host that cuts what does not fit, or answers "" for a file it cannot open.
                bool empty = fault != faults.end() && fault->second.emptyReads;
                bool filled = fault != faults.end() && fault->second.fillsReadsUnterminated;
                std::string bytes = empty ? std::string() : singleByte(value->second);
                std::size_t length = std::min(bytes.size(), record->retlen - (filled ? 0 : 1));
                std::memcpy(record->ret, bytes.data(), length);
                if (length < record->retlen) record->ret[length] = '\0';
                request.value = utf8FromUtf16(codePage.toUtf16(std::string(record->ret, length)));
                result = 1;
            }
            break;
        }
        case IPC_SET_EXTENDED_FILE_INFO:
            request.wParam = 0;
            request.file = fileOfSingleByteName(record->filename);
            request.value = utf8FromUtf16(codePage.toUtf16(record->ret));
            if (std::strcmp(record->metadata, "ARTIST") == 0 && stored.count(request.file))
                result = setLocked(request.file, request.value,
                                   !setAccepted || setAccepted(request.file, request.value), notices);
            break;
        case IPC_GET_EXTENDED_FILE_INFOW:
        case IPC_SET_EXTENDED_FILE_INFOW: {
            if (!hasWideRequestsLocked()) {
                result = 1;  // unknown to this host: nothing read, nothing set
                break;
            }
            const auto* wide = reinterpret_cast<const extendedFileInfoStructW*>(wParam);
            request.wParam = 0;
            request.file = fileOfDiskNameLocked(utf8FromUtf16(wide->filename));
            bool artist = std::u16string(wide->metadata) == u"ARTIST";
            if (code == IPC_SET_EXTENDED_FILE_INFOW) {
                request.value = utf8FromUtf16(wide->ret);
                if (artist && stored.count(request.file))
                    result = setLocked(request.file, request.value,
                                       !setAccepted || setAccepted(request.file, request.value), notices);
                break;
            }
            request.capacity = static_cast<long long>(wide->retlen);
            std::memset(wide->ret, 0, wide->retlen);  // bytes, not characters, as the host does
            refreshLocked(request.file);
            auto value = stored.find(request.file);
            fault = faults.find(request.file);
            bool known =
                value != stored.end() && (kindOf(request.file) != FileKind::Stream || playingFileLocked(request.file));
            if (artist && known && (!readAccepted || readAccepted(request.file)) && wide->retlen > 0) {
                bool empty = fault != faults.end() && fault->second.emptyReads;
                bool filled = fault != faults.end() && fault->second.fillsReadsUnterminated;
                std::u16string text =
                    empty ? u"" : utf16FromUtf8(value->second).substr(0, wide->retlen - (filled ? 0 : 1));
                std::copy(text.begin(), text.end(), wide->ret);
                if (text.size() < wide->retlen) wide->ret[text.size()] = u'\0';
                request.value = utf8FromUtf16(text);
                result = 1;
            }
            break;
        }
        case IPC_WRITE_EXTENDED_FILE_INFO:
            if (pending) request.file = pending->file;
            result = writeLocked(changed, notices);
            break;
        default:
            result = 1;
            break;
        }
        servingPlugin = false;
        request.answer = result;
        // A file in the spelling it was first known by.
        auto known = request.file.empty() ? stored.end() : stored.find(request.file);
        if (known != stored.end()) request.file = known->first;
        requestLog.push_back(std::move(request));
    }
    if (commitCallback) {
        for (const Commit& commit : changed) commitCallback(commit);
    }
    if (noticeCallback) {
        for (LPARAM notice : notices) noticeCallback(notice);
    }
    if (code == IPC_WRITE_EXTENDED_FILE_INFO) {
        std::lock_guard<std::mutex> lock(mutex);
        titleFromWrite = false;
    }
    return result;
}

void PlayerModel::setHostVersion(LRESULT version) {
    std::lock_guard<std::mutex> lock(mutex);
    hostVersion = version;
}

void PlayerModel::setCodePage(CodePage newCodePage) {
    std::lock_guard<std::mutex> lock(mutex);
    codePage = std::move(newCodePage);
}

void PlayerModel::setSettingsFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex);
    settingsFolder = folder;
}

bool PlayerModel::hasWideRequests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return hasWideRequestsLocked();
}

bool PlayerModel::hasWideRequestsLocked() const { return hostVersion >= HOST_VERSION_WIDE_REQUESTS; }

std::string PlayerModel::singleByte(const std::string& utf8) const { return codePage.fromUtf16(utf16FromUtf8(utf8)); }

std::string PlayerModel::fileOfSingleByteName(const char* name) const {
    for (const auto& [file, artist] : stored) {
        std::string diskFile = diskNameLocked(file);
        std::string bytes = singleByte(diskFile);
        if (bytes == name && codePage.toUtf16(bytes) == utf16FromUtf8(diskFile)) return file;
    }
    return fileOfDiskNameLocked(utf8FromUtf16(codePage.toUtf16(name)));  // no file: the name as the host reads it
}

void PlayerModel::setMusicFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex);
    musicFolder = folder;
}

std::string PlayerModel::diskName(const std::string& file) const {
    std::lock_guard<std::mutex> lock(mutex);
    return diskNameLocked(file);
}

static bool isDriveLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

std::string PlayerModel::diskNameLocked(const std::string& file) const {
    if (musicFolder.empty() || file.size() < 3 || !isDriveLetter(file[0]) || file.compare(1, 2, ":\\") != 0)
        return file;
    return musicFolder + "\\" + file[0] + file.substr(2);
}

std::string PlayerModel::fileOfDiskNameLocked(const std::string& name) const {
    std::u16string folder = utf16FromUtf8(musicFolder + "\\");
    std::u16string units = utf16FromUtf8(name);
    if (musicFolder.empty() || !beginsWithIgnoringCase(units, folder.c_str())) return name;
    std::string rest = utf8FromUtf16(units.substr(folder.size()));
    if (rest.size() < 2 || !isDriveLetter(rest[0]) || rest[1] != '\\') return name;
    return rest.substr(0, 1) + ":" + rest.substr(1);
}

std::string PlayerModel::storedArtist(const std::string& file) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = stored.find(file);
    if (it == stored.end()) return std::string();
    std::optional<std::string> onStore = tagStore.read ? tagStore.read(file) : std::nullopt;
    return onStore ? *onStore : it->second;
}

void PlayerModel::setStoredArtist(const std::string& file, const std::string& artist) {
    std::lock_guard<std::mutex> lock(mutex);
    stored[file] = artist;
    artistBases[file] = artist;
    onDisk[file] = artist;
}

void PlayerModel::markOnDisk(const std::string& file) {
    std::lock_guard<std::mutex> lock(mutex);
    auto value = stored.find(file);
    if (value == stored.end()) return;
    onDisk[file] = value->second;
    cached.erase(file);
}

void PlayerModel::setNotYetOnDisk(const std::string& file, const std::vector<std::string>& values) {
    std::lock_guard<std::mutex> lock(mutex);
    stored[file] = values.back();
    onDisk[file] = values.front();
    auto& writes = cached[file];
    writes.clear();
    for (std::size_t i = 1; i < values.size(); ++i) writes.emplace_back(clock(), values[i]);
}

std::string PlayerModel::onDiskNowLocked(const std::string& file, std::vector<std::string>* cachedValues) const {
    auto known = onDisk.find(file);
    std::string value = known != onDisk.end() ? known->second : std::string();
    // A write that another follows within the same moment never reaches the disk alone.
    const auto& writes = cached.find(file)->second;
    for (std::size_t i = 0; i < writes.size(); ++i) {
        if (writes[i].first + systemWriterDelayMs <= clock())
            value = writes[i].second;
        else if (cachedValues && (i + 1 == writes.size() || writes[i + 1].first != writes[i].first))
            cachedValues->push_back(writes[i].second);
    }
    return value;
}

void PlayerModel::powerCut() {
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [file, writes] : cached) stored[file] = onDisk[file] = onDiskNowLocked(file, nullptr);
    cached.clear();
}

FileMap<std::vector<std::string>> PlayerModel::valuesAPowerCutMayLeave() const {
    std::lock_guard<std::mutex> lock(mutex);
    FileMap<std::vector<std::string>> values;
    for (const auto& [file, writes] : cached) {
        std::vector<std::string> stillCached;
        values[file] = {onDiskNowLocked(file, &stillCached)};
        values[file].insert(values[file].end(), stillCached.begin(), stillCached.end());
    }
    return values;
}

std::string PlayerModel::fileOfName(const std::string& singleByteName) const {
    std::lock_guard<std::mutex> lock(mutex);
    return fileOfSingleByteName(singleByteName.c_str());
}

std::string PlayerModel::utf8OfSingleByte(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex);
    return utf8FromUtf16(codePage.toUtf16(text.c_str()));
}

void PlayerModel::editArtist(const std::string& name, const std::string& artist) {
    std::lock_guard<std::mutex> lock(mutex);
    stored[name] = artist;
    artistBases[name] = artist;
    onDisk[name] = artist;
    cached.erase(name);
    if (tagStore.write) tagStore.write(stored.find(name)->first, artist);
    const std::string& file = stored.find(name)->first;
    long long now = clock();
    requestLog.push_back(Request{now, EDIT_BY_HAND, 0, file, artist, 0, "hand", 1});
    commitLog.push_back(Commit{now, file, artist, true});
}

FileMap<std::string> PlayerModel::storedArtists() const {
    std::lock_guard<std::mutex> lock(mutex);
    FileMap<std::string> artists = stored;
    for (auto& [file, artist] : artists) {
        if (std::optional<std::string> onStore = tagStore.read ? tagStore.read(file) : std::nullopt) artist = *onStore;
    }
    return artists;
}

std::vector<Request> PlayerModel::requests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return requestLog;
}

std::size_t PlayerModel::requestCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return requestLog.size();
}

std::vector<Commit> PlayerModel::commits() const {
    std::lock_guard<std::mutex> lock(mutex);
    return commitLog;
}

void PlayerModel::onCommit(std::function<void(const Commit&)> callback) { commitCallback = std::move(callback); }

void PlayerModel::tagSenders(std::function<std::string()> tagger) {
    std::lock_guard<std::mutex> lock(mutex);
    senderTagger = std::move(tagger);
}

}  // namespace standin
