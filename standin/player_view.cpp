#include "player_view.h"

#include <gdiplus.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace standin {

namespace {

const COLORREF background = RGB(0, 0, 0);
const COLORREF entryText = RGB(0, 220, 0);
const COLORREF currentText = RGB(255, 255, 255);
const COLORREF currentBackground = RGB(0, 0, 160);
const COLORREF dimText = RGB(0, 140, 0);
const COLORREF titleBackground = RGB(40, 40, 64);
const int rowHeight = 18;
const int titleHeight = 20;

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

std::string minutesAndSeconds(long long seconds) {
    if (seconds < 0) return "-:--";
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

// A stream's length, -1 or 0, is none.
std::string lengthText(int seconds) { return minutesAndSeconds(seconds > 0 ? seconds : -1); }

void fill(HDC dc, const RECT& area, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

void text(HDC dc, RECT area, const std::string& utf8, COLORREF color, UINT format = DT_LEFT) {
    std::wstring line = wide(utf8);
    SetTextColor(dc, color);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &area,
              format | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
}

HFONT uiFont(int height, bool bold) {
    return CreateFontW(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
}

// The PNG encoder's class identifier, from GDI+'s list of encoders.
bool pngEncoder(CLSID* id) {
    UINT count = 0, bytes = 0;
    Gdiplus::GetImageEncodersSize(&count, &bytes);
    if (bytes == 0) return false;
    std::vector<unsigned char> buffer(bytes);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, bytes, encoders);
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(encoders[i].MimeType) == L"image/png") {
            *id = encoders[i].Clsid;
            return true;
        }
    }
    return false;
}

}  // namespace

const char* stateName(PlayState state) {
    switch (state) {
    case PlayState::Playing:
        return "Playing";
    case PlayState::Paused:
        return "Paused";
    case PlayState::Stopped:
        break;
    }
    return "Stopped";
}

void paintMainView(HDC dc, const RECT& area, PlayerModel& model) {
    fill(dc, area, background);
    const auto& entries = model.playlist();
    int index = model.currentIndex();
    std::string state = stateName(model.state());
    std::string artist;
    if (index >= 0 && index < static_cast<int>(entries.size())) {
        const Entry& entry = entries[static_cast<std::size_t>(index)];
        int position = model.position();
        state +=
            "  " + minutesAndSeconds(position < 0 ? -1 : position / 1000) + " / " + lengthText(entry.lengthSeconds);
        artist = std::to_string(index + 1) + ". " + model.storedArtist(entry.file);
    }
    int middle = (area.top + area.bottom) / 2;
    HFONT big = uiFont(18, true);
    HGDIOBJ old = SelectObject(dc, big);
    text(dc, {area.left + 10, area.top + 2, area.right - 10, middle}, state, entryText);
    HFONT small = uiFont(14, false);
    SelectObject(dc, small);
    text(dc, {area.left + 10, middle, area.right - 10, area.bottom - 2}, artist, currentText);
    SelectObject(dc, old);
    DeleteObject(big);
    DeleteObject(small);
}

ShownEntries paintPlaylistView(HDC dc, const RECT& area, PlayerModel& model) {
    fill(dc, area, background);
    HFONT font = uiFont(14, false);
    HGDIOBJ old = SelectObject(dc, font);
    const auto& entries = model.playlist();
    int current = model.currentIndex();
    PlayState state = model.state();
    // The play state in the last row, whatever the list's length.
    RECT status = {area.left, area.bottom - rowHeight - 2, area.right, area.bottom - 2};
    // The current entry in the last row when the list would hide it further down.
    std::size_t rows = static_cast<std::size_t>((status.top - area.top - 4) / rowHeight);
    std::size_t first =
        current >= 0 && static_cast<std::size_t>(current) >= rows ? static_cast<std::size_t>(current) + 1 - rows : 0;
    // Only the rows shown read their marked titles again.
    std::vector<std::string> titles = model.paintTitles(first, rows);
    for (std::size_t shown = 0; shown < titles.size(); ++shown) {
        std::size_t i = first + shown;
        RECT row = {area.left, area.top + 4 + static_cast<LONG>(shown) * rowHeight, area.right,
                    area.top + 4 + static_cast<LONG>(shown + 1) * rowHeight};
        bool isCurrent = static_cast<int>(i) == current;
        if (isCurrent) fill(dc, row, currentBackground);
        COLORREF color = isCurrent ? currentText : entryText;
        // Playing, paused, stopped.
        const char* marks[] = {"\xE2\x96\xB6 ", "\xE2\x80\x96 ", "\xE2\x96\xA0 "};
        std::string mark = !isCurrent                    ? "   "
                           : state == PlayState::Playing ? marks[0]
                           : state == PlayState::Paused  ? marks[1]
                                                         : marks[2];
        // The title the playlist holds, then the ARTIST the file holds now.
        RECT title = {row.left + 6, row.top, row.left + 300, row.bottom};
        text(dc, title, mark + std::to_string(i + 1) + ". " + titles[shown], color);
        RECT stored = {row.left + 306, row.top, row.right - 70, row.bottom};
        text(dc, stored, "ARTIST " + model.storedArtist(entries[i].file), isCurrent ? currentText : dimText);
        RECT right = {row.right - 66, row.top, row.right - 8, row.bottom};
        text(dc, right, lengthText(entries[i].lengthSeconds), isCurrent ? currentText : dimText, DT_RIGHT);
    }
    std::string where = entries.empty()
                            ? ""
                            : "  (entry " + std::to_string(current + 1) + " of " + std::to_string(entries.size()) + ")";
    text(dc, {status.left + 6, status.top, status.right - 8, status.bottom}, stateName(state) + where, dimText);
    SelectObject(dc, old);
    DeleteObject(font);
    return {first, titles.size(), entries.empty() ? -1 : current};
}

void saveScreenshot(const std::string& path, PlayerModel& model) {
    const int width = mainViewWidth;
    const int height = 2 * titleHeight + mainViewHeight + playlistViewHeight;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);

    HFONT titleFont = uiFont(13, true);
    HGDIOBJ oldFont = SelectObject(dc, titleFont);
    RECT title = {0, 0, width, titleHeight};
    fill(dc, title, titleBackground);
    text(dc, {8, 0, width, titleHeight}, "Stand-in player", currentText);
    RECT mainArea = {0, titleHeight, width, titleHeight + mainViewHeight};
    RECT editorTitle = {0, mainArea.bottom, width, mainArea.bottom + titleHeight};
    fill(dc, editorTitle, titleBackground);
    text(dc, {8, editorTitle.top, width, editorTitle.bottom}, "Playlist editor", currentText);
    SelectObject(dc, oldFont);
    DeleteObject(titleFont);
    paintMainView(dc, mainArea, model);
    paintPlaylistView(dc, {0, editorTitle.bottom, width, height}, model);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    bool saved = false;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        CLSID png;
        if (pngEncoder(&png)) {
            Gdiplus::Bitmap image(bitmap, nullptr);
            saved = image.Save(wide(path).c_str(), &png, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(token);
    }
    DeleteObject(bitmap);
    if (!saved) throw std::runtime_error("cannot save the screenshot " + path);
}

}  // namespace standin
