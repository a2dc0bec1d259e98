// Conversions between the encodings the stand-in player meets: UTF-8 in its files and
// its model, UTF-16 in the wide requests, and a single-byte code page in the old ones.
#ifndef VORLU_STANDIN_TEXT_ENCODING_H
#define VORLU_STANDIN_TEXT_ENCODING_H

#include <functional>
#include <string>

namespace standin {

// Ill-formed input becomes U+FFFD.
std::u16string utf16FromUtf8(const std::string& text);
std::string utf8FromUtf16(const std::u16string& text);

// A letter in upper case as Windows' file systems compare names: for the scripts the
// players' files are named in here (ASCII, Latin-1, Greek, Cyrillic); other units as they are.
char16_t upperCaseLetter(char16_t unit);
// The text with every letter in upper case; in UTF-8.
std::string upperCase(const std::string& utf8);

// A single-byte code page as the host converts with it: what it cannot represent becomes '?'.
struct CodePage {
    std::function<std::string(const std::u16string&)> fromUtf16;
    std::function<std::u16string(const std::string&)> toUtf16;
};
// ISO 8859-1, the first 256 code points: the native tests' stand-in for the system's code page.
CodePage latin1CodePage();

}  // namespace standin

#endif
