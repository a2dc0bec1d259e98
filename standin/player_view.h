// What the stand-in player's two windows show, drawn from the player model: the main
// window the play state and the position, the playlist editor every entry with the title
// the playlist holds for it (reading a marked one again) and beside it the ARTIST value
// as stored (so a stamp is seen as it changes), the current one marked with the play
// state, which its last row names; a list longer than its rows scrolls to the current one.
#ifndef VORLU_STANDIN_PLAYER_VIEW_H
#define VORLU_STANDIN_PLAYER_VIEW_H

#include <windows.h>

#include "player_model.h"

#include <string>

namespace standin {

const int mainViewWidth = 560;
const int mainViewHeight = 64;
const int playlistViewHeight = 160;

const char* stateName(PlayState state);  // "Playing", "Paused", "Stopped"

// What a paint of the playlist editor showed: entries [first, first + count), and the
// current one then (-1: an empty list).
struct ShownEntries {
    std::size_t first;
    std::size_t count;
    int current;
};

void paintMainView(HDC dc, const RECT& area, PlayerModel& model);
ShownEntries paintPlaylistView(HDC dc, const RECT& area, PlayerModel& model);

// Draws both windows, each under a title bar, into one picture and saves it as PNG.
// Throws std::runtime_error when it cannot.
void saveScreenshot(const std::string& path, PlayerModel& model);

}  // namespace standin

#endif
