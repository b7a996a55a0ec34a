// Names on the console: file and listing names come from strangers (a
// downloaded listing, another person's folder), so on a terminal every byte
// that could make it act is shown as text instead.
#include "common.hpp"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

// Whether names are escaped: asked once per run, as stdout cannot become a
// terminal later. isatty sets errno on its usual answer, so errno is kept.
bool stdout_is_terminal()
{
    static const bool terminal = [] {
        const int saved_errno = errno;
        const bool answer = ::isatty(STDOUT_FILENO) == 1;
        errno = saved_errno;
        return answer;
    }();
    return terminal;
}

// The byte at `text[i]`, as a number from 0 to 255.
unsigned char byte_at(const char* text, std::size_t i)
{
    return static_cast<unsigned char>(text[i]);
}

// The length of the well-formed UTF-8 sequence that starts `text`: 1 for
// ASCII, 2 to 4 for a whole character (no overlong form, no surrogate,
// nothing above U+10FFFF), 0 when the bytes there are no character.
std::size_t utf8_length(const char* text)
{
    const unsigned char lead = byte_at(text, 0);
    if (lead < 0x80) {
        return 1;
    }
    // The second byte's range depends on the lead; every later byte is a
    // plain continuation byte, 80 to BF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (byte_at(text, 1) < low || byte_at(text, 1) > high) {
        return 0; // a NUL ends the check here too
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte_at(text, i) < 0x80 || byte_at(text, i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

} // namespace

name_piece next_name_piece(const char* text)
{
    const unsigned char lead = byte_at(text, 0);
    if (lead < 0x80) {
        return {1, lead < 0x20 || lead == 0x7F};
    }
    const std::size_t length = utf8_length(text);
    if (length == 0) {
        // A stray byte: a terminal in an 8-bit mode reads 80 to 9F as C1
        // controls; A0 and up are printable there (Latin-1 names).
        return {1, lead <= 0x9F};
    }
    // U+0080 to U+009F, the C1 controls, written in UTF-8.
    return {length, lead == 0xC2 && byte_at(text, 1) <= 0x9F};
}

void print_name(const char* name, int width, const char* suffix)
{
    if (!stdout_is_terminal()) {
        std::printf("%-*s%s", width, name, suffix);
        return;
    }
    int shown = 0;
    for (const char* p = name; *p != '\0';) {
        const name_piece piece = next_name_piece(p);
        for (std::size_t i = 0; i < piece.length; ++i, ++p) {
            const auto byte = static_cast<unsigned char>(*p);
            if (piece.escaped) {
                shown += std::printf("\\x%02X", static_cast<unsigned>(byte));
            } else {
                (void)std::fputc(byte, stdout);
                ++shown;
            }
        }
    }
    std::printf("%*s%s", width > shown ? width - shown : 0, "", suffix);
}
