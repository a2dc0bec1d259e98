// The real gen_vorlu.dll inside the stand-in player, under Wine.
#include "standin_run.h"

#include <gtest/gtest.h>

#include <fstream>

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

TEST(Standin, savesAScreenshotOfBothWindowsAsPng) {
    std::filesystem::path shot = freshDirectory() / "shot.png";
    RunPlan plan{{{"C:\\Music\\a.mp3", "Artist A", 60}}, "0 play\n1 screenshot\n2 stop\n", 1.0};
    plan.extraArguments = "--screenshot '" + windowsPath(shot) + "'";
    StandinRun run = runStandin(plan);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::ifstream png(shot, std::ios::binary);
    char signature[8] = {};
    png.read(signature, sizeof signature);
    EXPECT_EQ(std::string(signature, sizeof signature), "\x89PNG\r\n\x1a\n") << run.output;
}

}  // namespace
}  // namespace vorlu_e2e
