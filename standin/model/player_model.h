// The stand-in player's model: a playlist, playback on a clock, stored tags and the
// answers to the host requests the plug-in sends. The Win32 stand-in player and the
// native tests both drive it; they own the windows and send the track-change notices.
//
// Thread use: answer() may be called from any thread (workers' requests); everything
// else from the thread that drives playback. One mutex guards all of it.
#ifndef VORLU_STANDIN_PLAYER_MODEL_H
#define VORLU_STANDIN_PLAYER_MODEL_H

#include "host/host_api.h"
#include "text_encoding.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace standin {

struct Entry {
    std::string file;
    std::string artist;
    int lengthSeconds;
};

enum class PlayState { Stopped, Playing, Paused };

// Host versions as IPC_GETVERSION answers them: one with the wide requests, and the last
// without, which answers 1 to them as to every request it does not know.
const LRESULT modernHostVersion = 0x5066;
const LRESULT oldHostVersion = 0x5012;

struct Request {
    long long time;
    int code;
    long long wParam;    // the index for 211, 214 and 295, otherwise what the code says
    std::string file;    // for the metadata requests, in UTF-8 whichever path they took
    std::string value;   // the value set or read, in UTF-8
    long long capacity;  // retlen of a read
    std::string sender;  // what the sender tagger said, e.g. which thread sent it
    long long answer;
};

struct Commit {
    long long time;
    std::string file;
    std::string artist;
};

class PlayerModel {
public:
    using Clock = std::function<long long()>;  // player time in ms

    explicit PlayerModel(Clock clock);

    // Replaces the playlist and stops. A file not yet in the tag store gets its entry's artist.
    void setPlaylist(std::vector<Entry> entries);
    void setPlaylistEditor(HWND window);

    // Playback. Each returns true when an entry began to play, so the caller sends the
    // playlist editor the track-change notice.
    bool play();  // from stop: the current entry from 0; from pause: resumes
    void pause();
    void resume();
    void stop();
    void seek(long long ms);
    bool next();
    bool previous();
    bool jump(int index);
    // At the end of the playing track: the next entry plays, or playback stops after the last.
    bool advanceIfEnded();
    long long endTime() const;  // clock time at which the playing track ends; -1 when not playing

    int position() const;
    int currentIndex() const;
    PlayState state() const;
    const std::vector<Entry>& playlist() const { return entries; }

    // Failure injection: a set or read is refused when the predicate says no.
    void acceptSets(std::function<bool(const std::string& file, const std::string& value)> accept);
    void acceptReads(std::function<bool(const std::string& file)> accept);

    // Which host to be: its version, and the code page of its single-byte answers
    // (Latin-1 unless set). Stored names and artists are UTF-8 either way.
    void setHostVersion(LRESULT version);
    void setCodePage(CodePage codePage);
    // The folder IPC_GETINIDIRECTORY names, as a Windows program sees it.
    void setSettingsFolder(const std::string& folder);
    bool hasWideRequests() const;

    // The host's answer to a request sent to its main window. Like the host, it answers
    // 1 to a request it does not know, and both name requests with one buffer each that
    // the next such request overwrites.
    LRESULT answer(WPARAM wParam, LPARAM code);

    std::string storedArtist(const std::string& file) const;
    void setStoredArtist(const std::string& file, const std::string& artist);
    std::map<std::string, std::string> storedArtists() const;
    std::vector<Request> requests() const;
    std::vector<Commit> commits() const;
    // Called, outside the lock, for every commit that changed a stored artist.
    void onCommit(std::function<void(const Commit&)> callback);
    // Names the sender of each request as it is answered.
    void tagSenders(std::function<std::string()> tagger);

private:
    int positionLocked() const;
    // The stored file a single-byte name stands for: only a name that the code page
    // represents whole names a file.
    std::string fileOfSingleByteName(const char* name) const;
    bool hasWideRequestsLocked() const;
    std::string singleByte(const std::string& utf8) const;
    bool startLocked(int index);

    Clock clock;
    mutable std::mutex mutex;
    std::vector<Entry> entries;
    HWND playlistEditor = nullptr;
    int index = 0;
    PlayState playState = PlayState::Stopped;
    long long positionBase = 0;  // position when playback last started or stood still
    long long startedAt = 0;     // clock time of that moment
    std::map<std::string, std::string> stored;
    LRESULT hostVersion = modernHostVersion;
    std::string settingsFolder;
    CodePage codePage = latin1CodePage();
    std::vector<char> nameBuffer = std::vector<char>(32768);
    std::vector<char16_t> wideNameBuffer = std::vector<char16_t>(32768);
    std::map<std::string, std::string> pending;
    std::function<bool(const std::string&, const std::string&)> setAccepted;
    std::function<bool(const std::string&)> readAccepted;
    std::function<void(const Commit&)> commitCallback;
    std::function<std::string()> senderTagger;
    std::vector<Request> requestLog;
    std::vector<Commit> commitLog;
};

}  // namespace standin

#endif
