#include "standin_run.h"

#include "player_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace vorlu_e2e {

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// A play state as the player names it in its results.
standin::PlayState playState(const std::string& name) {
    if (name == "Playing") return standin::PlayState::Playing;
    if (name == "Paused") return standin::PlayState::Paused;
    return standin::PlayState::Stopped;
}

// The library just built, copied once per test process: a player that finds no other
// folder for its journal keeps it beside the library, and tests that run at once must not
// share one (a player of one test would repair the files of another).
fs::path ownCopyOfThePlugin() {
    static const fs::path copy = [] {
        fs::path path = freshDirectory() / "gen_vorlu.dll";
        fs::copy_file(VORLU_PLUGIN_DLL, path);
        return path;
    }();
    return copy;
}

#ifdef VORLU_WINE_SESSIONS
// The Wine prefix CTest handed this test, as "id:N,slots:1" (tests/e2e/wine_sessions.json),
// for every Wine program it starts: tests that run at once share no Windows session. Run
// without a resources file, it keeps the default prefix.
[[maybe_unused]] const bool ownWineSession = [] {
    const char* given = std::getenv("CTEST_RESOURCE_GROUP_0_WINE_SESSIONS");
    std::string text = given ? given : "";
    if (text.rfind("id:", 0) != 0) return false;
    std::string id = text.substr(3, text.find(',') - 3);
    return setenv("WINEPREFIX", (std::string(VORLU_WINE_SESSIONS) + "/" + id).c_str(), 1) == 0;
}();
#endif

}  // namespace

bool oldHostRun() {
    const char* old = std::getenv("VORLU_OLD_HOST");
    return old && std::string(old) == "1";
}

std::string windowsPath(const fs::path& path) {
    std::string text = "Z:" + fs::absolute(path).string();
    for (char& c : text) {
        if (c == '/') c = '\\';
    }
    return text;
}

fs::path freshDirectory() {
    static std::atomic<int> count{0};
    fs::path dir =
        fs::temp_directory_path() / ("vorlu-e2e-" + std::to_string(getpid()) + "-" + std::to_string(++count));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

int wineExitCode(const std::string& commandLine) {
    int status = std::system(("WINEDEBUG=-all wine " + commandLine + " > /dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> StandinRun::artistHistory(const std::string& file) const {
    std::vector<std::string> history{originals.at(file)};
    for (const auto& commit : commits) {
        if (commit.file == file) history.push_back(commit.artist);
    }
    return history;
}

int StandinRun::requestCount(int code) const {
    int n = 0;
    for (const auto& request : requests) n += request.code == code ? 1 : 0;
    return n;
}

int StandinRun::debugLinesWith(const std::string& text) const {
    return static_cast<int>(std::count_if(debugLines.begin(), debugLines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    }));
}

long long StandinRun::timeIn(standin::PlayState state, long long from, long long to) const {
    long long total = 0;
    for (std::size_t i = 0; i < playStates.size(); ++i) {
        if (playStates[i].state != state) continue;
        long long end = i + 1 < playStates.size() ? playStates[i + 1].time : to;
        total += std::max(0LL, std::min(end, to) - std::max(playStates[i].time, from));
    }
    return total;
}

int StandinRun::timesEntered(standin::PlayState state, long long from, long long to) const {
    return static_cast<int>(std::count_if(playStates.begin(), playStates.end(), [&](const auto& change) {
        return change.state == state && change.time >= from && change.time < to;
    }));
}

long long StandinRun::changedTo(standin::PlayState state, long long from) const {
    for (const auto& change : playStates) {
        if (change.state == state && change.time >= from) return change.time;
    }
    return -1;
}

StandinRun runStandin(const RunPlan& plan) {
    fs::path dir = plan.runFolder.empty() ? freshDirectory() : fs::path(plan.runFolder);
    {
        std::ofstream playlist(dir / "playlist.txt");
        for (const auto& e : plan.playlist)
            playlist << standin::escapeField(e.file) << '\t' << standin::escapeField(e.artist) << '\t'
                     << e.lengthSeconds << '\n';
        std::ofstream(dir / "script.txt") << plan.script;
    }
    StandinRun run;
    run.tagsPath = plan.tagsPath.empty() ? (dir / "tags.txt").string() : plan.tagsPath;
    fs::path results = dir / "results.txt";
    std::ostringstream command;
    fs::path plugin = plan.pluginPath.empty() ? ownCopyOfThePlugin() : fs::path(plan.pluginPath);
    std::string pluginArgument = plugin.is_relative() ? plugin.string() : windowsPath(plugin);
    std::replace(pluginArgument.begin(), pluginArgument.end(), '/', '\\');
    command << "cd " << quoted(dir.string()) << " && WINEDEBUG=-all wine "
            << quoted(plan.standinPath.empty() ? VORLU_STANDIN_EXE : plan.standinPath) << " --plugin "
            << quoted(pluginArgument) << " --playlist playlist.txt"
            << " --script script.txt --tags " << quoted(windowsPath(run.tagsPath)) << " --results results.txt"
            << " --speed " << plan.speed << (oldHostRun() ? " --old-host " : " ");
    if (!plan.playersSettingsDir)
        command << " --settings-dir "
                << quoted(windowsPath(plan.settingsDir.empty() ? dir : fs::path(plan.settingsDir)));
    command << " " << plan.extraArguments << " > output.txt 2>&1";
    // Output to a file, not a pipe: Wine's helper processes inherit it and outlive the player.
    int status = std::system(command.str().c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    {
        std::ifstream output(dir / "output.txt");
        run.output.assign(std::istreambuf_iterator<char>(output), std::istreambuf_iterator<char>());
    }

    std::ifstream in(results);
    std::string line;
    while (std::getline(in, line)) {
        auto f = standin::splitFields(line);
        const std::string& kind = f[0];
        if (kind == "check" && f.size() >= 3)
            run.checks[f[1]] = f[2];
        else if (kind == "request" && f.size() == 8)
            run.requests.push_back(
                RunRequest{std::stoll(f[1]), std::stoi(f[2]), std::stoll(f[3]), f[4], f[5], f[6], std::stoll(f[7])});
        else if (kind == "commit" && f.size() >= 4)
            run.commits.push_back(standin::Commit{std::stoll(f[1]), f[2], f[3], f.size() == 5 && f[4] == "hand"});
        else if (kind == "action" && f.size() == 4)
            run.actions.push_back(RunAction{std::stoll(f[1]), f[2], f[3]});
        else if (kind == "notice" && f.size() >= 3)
            run.notices.push_back(RunNotice{std::stoll(f[1]), std::stoll(f[2]), f.size() == 4 && f[3] == "request"});
        else if (kind == "state" && f.size() == 3)
            run.playStates.push_back(standin::PlayStateChange{std::stoll(f[1]), playState(f[2])});
        else if (kind == "start" && f.size() == 5)
            run.starts.push_back(RunStart{std::stoll(f[1]), f[2], f[3], f[4] == "counted"});
        else if (kind == "debug" && f.size() == 2)
            run.debugLines.push_back(f[1]);
        else if (kind == "original" && f.size() == 3)
            run.originals[f[1]] = f[2];
        else if (kind == "stored" && f.size() == 3)
            run.stored[f[1]] = f[2];
        else if (f.size() >= 2)
            run.values[kind] = f[1];
    }
    if (run.checks.empty()) ADD_FAILURE() << "the stand-in player recorded nothing; it printed:\n" << run.output;
    return run;
}

void reportFigure(const std::string& line) {
    std::cout << line << '\n';
    std::ofstream("e2e-figures.txt", std::ios::app) << line << '\n';
}

void expectEveryArtistRestored(const StandinRun& run) {
    EXPECT_FALSE(run.originals.empty());
    for (const auto& [file, original] : run.originals) {
        // A name in other case is the same file, kept under the spelling it was first known by.
        auto stored = std::find_if(run.stored.begin(), run.stored.end(),
                                   [&](const auto& known) { return standin::sameFile(known.first, file); });
        ASSERT_NE(stored, run.stored.end()) << file;
        EXPECT_EQ(stored->second, original) << file;
    }
    EXPECT_EQ(run.checks.count("every_stored_artist_is_the_original")
                  ? run.checks.at("every_stored_artist_is_the_original")
                  : "",
              "ok");
}

void expectFinished(const StandinRun& run) {
    ASSERT_EQ(run.exitCode, 0) << run.output;
    expectEveryArtistRestored(run);
    for (const auto& [name, result] : run.checks) {
        // The player prints what each failed check found.
        std::size_t found = run.output.find("FAILED CHECK " + name);
        EXPECT_EQ(result, "ok") << (found == std::string::npos ? name : run.output.substr(found, 600));
    }
}

}  // namespace vorlu_e2e
