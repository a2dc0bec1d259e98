// The stand-in player's text files, read and written by the player and by the tests.
//
// Playlist: one entry a line, "file<TAB>artist<TAB>length in seconds".
// Script: one action a line, "<player time in seconds> <action> [argument]"; actions:
//   play, pause, resume, stop, next, prev, jump <entry>, seek <seconds>, config,
//   refuse-sets on|off, refuse-restores on|off (sets of a file's original only),
//   refuse-reads on|off, kill, quit, quit-inside (quit from within a message the
//   plug-in's main-window procedure passed on), exit (the host's own exit), logoff (the
//   end of a Windows session), screenshot, save-playlist <file> (an extended M3U of the
//   titles the playlist holds);
//   repeat-one on|off (on: at its end the playing entry starts again);
//   edit <entry> <text> (another program, a tag editor, sets the ARTIST of that entry's
//   file to the rest of the line, while the player runs);
//   faults of the file of an entry for the rest of the run: empty-reads <entry>,
//   failing-writes <entry>, stop-on-set <entry>, read-only <entry>, held <entry>;
//   on-request <code>[/<wParam>] <action> [argument] (the listener's action, posted as the
//   player answers the next such request of a plug-in's own thread).
//   An <entry> is its number, counted from 1 as the playlist window numbers it.
// Tags: the stored ARTIST of every file, "file<TAB>artist" a line.
// Results: tab-separated records for the tests (see player_main.cpp).
// Blank lines and lines starting with '#' are skipped. In every field %09, %0A and %25
// stand for a tab, a line break and a percent sign; a backslash is itself, as in paths.
#ifndef VORLU_STANDIN_PLAYER_FILES_H
#define VORLU_STANDIN_PLAYER_FILES_H

#include "player_model.h"

#include <map>
#include <string>
#include <vector>

namespace standin {

struct ScriptAction {
    long long time;  // player time, ms
    std::string action;
    std::string argument;
};

std::string escapeField(const std::string& text);
std::vector<std::string> splitFields(const std::string& line);  // unescaped

// Each throws std::runtime_error naming the file and line on a malformed line.
std::vector<Entry> readPlaylist(const std::string& path);
std::vector<ScriptAction> readScript(const std::string& path);
FileMap<std::string> readTags(const std::string& path);  // empty when the file is absent
void writeTags(const std::string& path, const FileMap<std::string>& tags);

}  // namespace standin

#endif
