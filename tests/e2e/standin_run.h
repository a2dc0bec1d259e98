// Runs the stand-in player with the real gen_vorlu.dll under Wine and reads back what it
// recorded. Needs an X display (the tests run under xvfb-run).
#ifndef VORLU_TESTS_E2E_STANDIN_RUN_H
#define VORLU_TESTS_E2E_STANDIN_RUN_H

#include "player_files.h"
#include "player_model.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vorlu_e2e {

struct RunRequest {
    long long time;
    int code;
    long long wParam;
    std::string thread;  // "ui" when sent from the player's own thread, else "worker"
    std::string file;
    std::string value;
    long long answer;
};

struct RunAction {
    long long time;  // player time, ms
    std::string name;
    std::string argument;
};

struct RunNotice {
    long long time;
    long long lParam;  // the entry's index, with bit 30 when the title update sent it
    bool fromRequest;  // sent while the host answered a request (a write's stop, restart or title update)
};

struct RunStart {
    long long time;
    std::string file;
    std::string by;  // "listener", "restart" (the host's, at a write), "plugin" (a button pressed)
    bool counted;    // as a play: play tracking was on
};

struct StandinRun {
    int exitCode = -1;
    std::string output;                         // what the player printed
    std::map<std::string, std::string> checks;  // name -> "ok" or "fail"
    std::map<std::string, std::string> values;  // single records: description, config, quit_ms, ...
    std::vector<RunRequest> requests;
    std::vector<standin::Commit> commits;
    std::vector<RunAction> actions;                    // as the script ran them
    std::vector<RunNotice> notices;                    // the track-change notices the player sent its playlist editor
    std::vector<standin::PlayStateChange> playStates;  // every change of the play state, in order
    std::vector<RunStart> starts;                      // every start of playback, in order
    std::vector<std::string> debugLines;               // the plug-in's debug output, as the player read it
    std::map<std::string, std::string> originals;
    std::map<std::string, std::string> stored;
    std::string tagsPath;  // the stored tags as the player left them on disk

    std::vector<std::string> artistHistory(const std::string& file) const;  // original, then commits
    int requestCount(int code) const;
    int debugLinesWith(const std::string& text) const;  // the plug-in's debug lines that hold text
    // How long, in player ms, the player spent in state between two player times, and how
    // often it entered it then.
    long long timeIn(standin::PlayState state, long long from, long long to) const;
    int timesEntered(standin::PlayState state, long long from, long long to) const;
    // The player time of its first change to state at or after from; -1 when none came.
    long long changedTo(standin::PlayState state, long long from) const;
};

struct RunPlan {
    std::vector<standin::Entry> playlist;
    std::string script;  // lines "<player seconds> <action> [argument]"
    double speed = 1.0;
    std::string tagsPath;        // reuse the stored tags of an earlier run; empty: a fresh file
    std::string pluginPath;      // the library, a Linux path (relative: from runFolder); empty: the one just built
    std::string standinPath;     // the stand-in player to run, a Linux path; empty: the one just built
    std::string runFolder;       // the current folder of the run, a Linux path; empty: a fresh one
    std::string extraArguments;  // more of the player's options, as Wine is given them
    std::string settingsDir;     // the folder for plug-ins' files, a Linux path; empty: the run's own
    // No --settings-dir at all: the player's own choice.
    bool playersSettingsDir = false;
};

// Runs the stand-in player; as a host without the wide requests (--old-host) when
// VORLU_OLD_HOST=1, as CTest runs every e2e test a second time.
StandinRun runStandin(const RunPlan& plan);
bool oldHostRun();

// A new empty folder under the temporary directory.
std::filesystem::path freshDirectory();
// The path as a Windows program under Wine sees it (Z:\...).
std::string windowsPath(const std::filesystem::path& path);
// Runs a Windows command line under Wine, output discarded; its exit code.
int wineExitCode(const std::string& commandLine);

// Prints a measured figure and appends it to e2e-figures.txt in the working directory,
// which scripts/test shows at the end.
void reportFigure(const std::string& line);

// Fails the calling test with the lines that differ when a stored artist is not the original.
void expectEveryArtistRestored(const StandinRun& run);
// Fails the calling test unless the player ended normally, every check passed and every
// stored artist is the original.
void expectFinished(const StandinRun& run);

}  // namespace vorlu_e2e

#endif
