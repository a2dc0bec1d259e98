#include "player_model.h"

#include <algorithm>
#include <cstring>

namespace standin {

PlayerModel::PlayerModel(Clock clock) : clock(std::move(clock)) {}

void PlayerModel::setPlaylist(std::vector<Entry> newEntries) {
    std::lock_guard<std::mutex> lock(mutex);
    entries = std::move(newEntries);
    for (const Entry& entry : entries) stored.emplace(entry.file, entry.artist);
    for (const Entry& entry : entries) fileNames.emplace(entry.file, entry.file);
    index = 0;
    playState = PlayState::Stopped;
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
    long long end = static_cast<long long>(entries[index].lengthSeconds) * 1000;
    return static_cast<int>(std::max(0LL, std::min(position, end)));
}

bool PlayerModel::startLocked(int newIndex) {
    if (newIndex < 0 || newIndex >= static_cast<int>(entries.size())) return false;
    index = newIndex;
    playState = PlayState::Playing;
    positionBase = 0;
    startedAt = clock();
    return true;
}

bool PlayerModel::play() {
    std::lock_guard<std::mutex> lock(mutex);
    if (playState == PlayState::Paused) {
        playState = PlayState::Playing;
        startedAt = clock();
        return false;
    }
    if (playState == PlayState::Playing) return false;
    return startLocked(index);
}

void PlayerModel::pause() {
    std::lock_guard<std::mutex> lock(mutex);
    if (playState != PlayState::Playing) return;
    positionBase = positionLocked();
    playState = PlayState::Paused;
}

void PlayerModel::resume() {
    std::lock_guard<std::mutex> lock(mutex);
    if (playState != PlayState::Paused) return;
    playState = PlayState::Playing;
    startedAt = clock();
}

void PlayerModel::stop() {
    std::lock_guard<std::mutex> lock(mutex);
    playState = PlayState::Stopped;
}

void PlayerModel::seek(long long ms) {
    std::lock_guard<std::mutex> lock(mutex);
    if (playState == PlayState::Stopped) return;
    long long end = static_cast<long long>(entries[index].lengthSeconds) * 1000;
    positionBase = std::max(0LL, std::min(ms, end));
    startedAt = clock();
}

bool PlayerModel::next() {
    std::lock_guard<std::mutex> lock(mutex);
    return startLocked(index + 1);
}

bool PlayerModel::previous() {
    std::lock_guard<std::mutex> lock(mutex);
    return startLocked(index - 1);
}

bool PlayerModel::jump(int newIndex) {
    std::lock_guard<std::mutex> lock(mutex);
    return startLocked(newIndex);
}

bool PlayerModel::advanceIfEnded() {
    std::lock_guard<std::mutex> lock(mutex);
    if (playState != PlayState::Playing) return false;
    long long end = static_cast<long long>(entries[index].lengthSeconds) * 1000;
    if (positionBase + (clock() - startedAt) < end) return false;
    if (startLocked(index + 1)) return true;
    playState = PlayState::Stopped;
    return false;
}

long long PlayerModel::endTime() const {
    std::lock_guard<std::mutex> lock(mutex);
    if (playState != PlayState::Playing) return -1;
    return startedAt + static_cast<long long>(entries[index].lengthSeconds) * 1000 - positionBase;
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

void PlayerModel::acceptSets(std::function<bool(const std::string&, const std::string&)> accept) {
    std::lock_guard<std::mutex> lock(mutex);
    setAccepted = std::move(accept);
}

void PlayerModel::acceptReads(std::function<bool(const std::string&)> accept) {
    std::lock_guard<std::mutex> lock(mutex);
    readAccepted = std::move(accept);
}

LRESULT PlayerModel::answer(WPARAM wParam, LPARAM code) {
    std::vector<Commit> changed;
    LRESULT result = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Request request{clock(),
                        static_cast<int>(code),
                        static_cast<long long>(static_cast<LONG>(wParam)),
                        {},
                        {},
                        0,
                        senderTagger ? senderTagger() : std::string(),
                        0};
        const auto* record = reinterpret_cast<const extendedFileInfoStruct*>(wParam);
        switch (code) {
        case IPC_GETOUTPUTTIME:
            if (wParam == IPC_GETOUTPUTTIME_POSITION_MS)
                result = positionLocked();
            else if (wParam == IPC_GETOUTPUTTIME_LENGTH_S)
                result = entries.empty() ? -1 : entries[index].lengthSeconds;
            break;
        case IPC_GETLISTPOS:
            result = index;
            break;
        case IPC_GETPLAYLISTFILE: {
            int entry = static_cast<int>(request.wParam);
            if (entry >= 0 && entry < static_cast<int>(entries.size()))
                result = reinterpret_cast<LRESULT>(fileNames.at(entries[entry].file).c_str());
            break;
        }
        case IPC_GETWND:
            result = wParam == IPC_GETWND_PE ? reinterpret_cast<LRESULT>(playlistEditor) : 0;
            break;
        case IPC_GET_EXTENDED_FILE_INFO: {
            request.wParam = 0;
            request.file = record->filename;
            request.capacity = static_cast<long long>(record->retlen);
            auto value = stored.find(request.file);
            bool known = value != stored.end() && std::strcmp(record->metadata, "ARTIST") == 0;
            if (known && (!readAccepted || readAccepted(request.file)) && record->retlen > 0) {
                // Like a host that cuts what does not fit.
                std::size_t length = std::min(value->second.size(), record->retlen - 1);
                std::memcpy(record->ret, value->second.data(), length);
                record->ret[length] = '\0';
                request.value.assign(record->ret, length);
                result = 1;
            }
            break;
        }
        case IPC_SET_EXTENDED_FILE_INFO:
            request.wParam = 0;
            request.file = record->filename;
            request.value = record->ret;
            if (std::strcmp(record->metadata, "ARTIST") == 0 &&
                (!setAccepted || setAccepted(request.file, request.value))) {
                pending[request.file] = request.value;
                result = 1;
            }
            break;
        case IPC_WRITE_EXTENDED_FILE_INFO:
            for (auto& [file, artist] : pending) {
                if (stored[file] == artist) continue;
                stored[file] = artist;
                commitLog.push_back(Commit{request.time, file, artist});
                changed.push_back(commitLog.back());
            }
            pending.clear();
            break;
        default:
            break;
        }
        request.answer = result;
        requestLog.push_back(std::move(request));
    }
    if (commitCallback) {
        for (const Commit& commit : changed) commitCallback(commit);
    }
    return result;
}

std::string PlayerModel::storedArtist(const std::string& file) const {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = stored.find(file);
    return it == stored.end() ? std::string() : it->second;
}

void PlayerModel::setStoredArtist(const std::string& file, const std::string& artist) {
    std::lock_guard<std::mutex> lock(mutex);
    stored[file] = artist;
}

std::map<std::string, std::string> PlayerModel::storedArtists() const {
    std::lock_guard<std::mutex> lock(mutex);
    return stored;
}

std::vector<Request> PlayerModel::requests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return requestLog;
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
