// The real gen_vorlu.dll inside the stand-in player, under Wine.
#include "standin_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace vorlu_e2e {
namespace {

TEST(Standin, loadsShowsItsNoticeAndUnloadsLeavingWorkingWindows) {
    StandinRun run = runStandin({{{"C:\\Music\\a.mp3", "Artist A", 60}}, "0 config\n0.1 quit\n"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const char* check :
         {"descriptor_same_each_call", "descriptor_version", "init_subclasses_main", "init_subclasses_editor",
          "messages_pass_main_after_init", "messages_pass_editor_after_init", "config_box_shown",
          "config_box_owner_is_main", "config_box_text", "config_box_caption_empty", "config_box_one_button",
          "messages_pass_main_after_unload", "messages_pass_editor_after_unload"}) {
        EXPECT_EQ(run.checks[check], "ok") << check << "\n" << run.output;
    }
    EXPECT_EQ(run.values["description"], "Vorlu v1.0 (gen_vorlu.dll)");
    EXPECT_EQ(run.values["config"], "There is no current configuration settings. Please edit the source of Vorlu.");
    // init's one request, made from the player's own thread.
    ASSERT_EQ(run.requestCount(260), 1);
    EXPECT_EQ(run.requests[0].thread, "ui");
    EXPECT_TRUE(run.commits.empty());
}

// Ten entries, more than the playlist editor's rows: it scrolls to show the one playing.
TEST(Standin, savesAScreenshotOfBothWindowsAsPng) {
    std::filesystem::path shot = freshDirectory() / "shot.png";
    RunPlan plan{{}, "0 jump 10\n1 screenshot\n2 stop\n", 1.0};
    for (char name = 'a'; name <= 'j'; ++name)
        plan.playlist.push_back({"C:\\Music\\" + std::string(1, name) + ".mp3", "Artist", 60});
    plan.extraArguments = "--screenshot '" + windowsPath(shot) + "'";
    StandinRun run = runStandin(plan);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::ifstream png(shot, std::ios::binary);
    char signature[8] = {};
    png.read(signature, sizeof signature);
    EXPECT_EQ(std::string(signature, sizeof signature), "\x89PNG\r\n\x1a\n") << run.output;
    EXPECT_EQ(run.checks["playlist_shows_the_current_entry"], "ok") << run.output;
}

// --plugin as a shell user means it: a path from the current folder, not from the player's
// own folder, which LoadLibrary searches first; folders named in any script; the player
// says which file it loaded. Without --settings-dir each run names a new folder of its own.
TEST(Standin, loadsThePluginFileNamedFromTheCurrentFolderInAnyScript) {
    namespace fs = std::filesystem;
    fs::path dir = freshDirectory();
    fs::path playerFolder = dir / "player";
    fs::path current = dir / "work";
    fs::path elsewhere = dir / "Плагины 東京";
    for (const fs::path& folder : {playerFolder, current, elsewhere}) {
        fs::create_directories(folder);
        fs::copy_file(VORLU_PLUGIN_DLL, folder / "gen_vorlu.dll");
    }
    fs::copy_file(VORLU_STANDIN_EXE, playerFolder / "standin_player.exe");
    const struct {
        const char* plugin;
        fs::path loaded;
    } cases[] = {
        {"gen_vorlu.dll", current / "gen_vorlu.dll"},
        {"../Плагины 東京/gen_vorlu.dll", elsewhere / "gen_vorlu.dll"},
    };
    std::set<std::string> settingsFolders;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plugin);
        RunPlan plan{{{"C:\\Music\\a.mp3", "Artist A", 60}}, "0 quit\n"};
        plan.playersSettingsDir = true;
        plan.pluginPath = c.plugin;
        plan.standinPath = (playerFolder / "standin_player.exe").string();
        plan.runFolder = current.string();
        StandinRun run = runStandin(plan);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(run.checks["every_stored_artist_is_the_original"], "ok") << run.output;  // the run ran to its end
        EXPECT_NE(run.output.find("plug-in loaded from " + windowsPath(c.loaded) + ": Vorlu"), std::string::npos)
            << run.output;
        std::size_t named = run.output.find("settings folder for plug-ins' files: ");
        ASSERT_NE(named, std::string::npos) << run.output;
        std::string folder = run.output.substr(named, run.output.find_first_of("\r\n", named) - named);
        EXPECT_NE(folder.find("\\vorlu-settings-"), std::string::npos) << folder;
        settingsFolders.insert(folder);
    }
    EXPECT_EQ(settingsFolders.size(), 2u);
}

}  // namespace
}  // namespace vorlu_e2e
