#include "player_files.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace standin {

namespace {

std::vector<std::string> contentLines(const std::string& path, bool mustExist) {
    std::ifstream in(path, std::ios::binary);
    if (!in && mustExist) throw std::runtime_error("cannot read " + path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool skipped(const std::string& line) { return line.empty() || line[0] == '#'; }

[[noreturn]] void malformed(const std::string& path, std::size_t line, const std::string& why) {
    throw std::runtime_error(path + ":" + std::to_string(line + 1) + ": " + why);
}

}  // namespace

std::string escapeField(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\t')
            out += "%09";
        else if (c == '\n')
            out += "%0A";
        else if (c == '%')
            out += "%25";
        else
            out += c;
    }
    return out;
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '%' && line.compare(i, 3, "%09") == 0) {
            fields.back() += '\t';
            i += 2;
        } else if (c == '%' && line.compare(i, 3, "%0A") == 0) {
            fields.back() += '\n';
            i += 2;
        } else if (c == '%' && line.compare(i, 3, "%25") == 0) {
            fields.back() += '%';
            i += 2;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::vector<Entry> readPlaylist(const std::string& path) {
    std::vector<Entry> entries;
    auto lines = contentLines(path, true);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (skipped(lines[i])) continue;
        auto fields = splitFields(lines[i]);
        if (fields.size() != 3) malformed(path, i, "expected file, artist and length");
        try {
            entries.push_back(Entry{fields[0], fields[1], std::stoi(fields[2])});
        } catch (const std::logic_error&) {
            malformed(path, i, "length is not a number");
        }
    }
    return entries;
}

std::vector<ScriptAction> readScript(const std::string& path) {
    std::vector<ScriptAction> actions;
    auto lines = contentLines(path, true);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (skipped(lines[i])) continue;
        std::istringstream words(lines[i]);
        double seconds;
        ScriptAction action;
        if (!(words >> seconds >> action.action)) malformed(path, i, "expected a time and an action");
        // The rest of the line: a number, on|off, or a text such as an edited artist.
        std::getline(words >> std::ws, action.argument);
        action.time = static_cast<long long>(seconds * 1000);
        actions.push_back(action);
    }
    return actions;
}

FileMap<std::string> readTags(const std::string& path) {
    FileMap<std::string> tags;
    auto lines = contentLines(path, false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (skipped(lines[i])) continue;
        auto fields = splitFields(lines[i]);
        if (fields.size() != 2) malformed(path, i, "expected file and artist");
        tags[fields[0]] = fields[1];
    }
    return tags;
}

void writeTags(const std::string& path, const FileMap<std::string>& tags) {
    std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const auto& [file, artist] : tags) out << escapeField(file) << '\t' << escapeField(artist) << '\n';
        if (!out.flush()) throw std::runtime_error("cannot write " + temporary);
    }
    std::remove(path.c_str());
    if (std::rename(temporary.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot replace " + path);
}

}  // namespace standin
