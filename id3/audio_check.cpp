// Telling MPEG audio from every other kind of file by its first bytes, so
// that a block is only ever appended to audio. An album folder holds
// covers, logs, cue sheets and archives beside the songs, and
// `tagwhit -a X *` must leave them alone.
#include "id3.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

using namespace std::string_view_literals;

namespace {

using bytes_view = std::span<const unsigned char>;

// The bit rates of MPEG audio in kbit/s by bit-rate index 1 to 14, for
// MPEG-1 Layer I, II and III, then MPEG-2 and 2.5 Layer I, and II and III.
constexpr std::uint16_t bit_rates[5][14] = {
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
// Sampling rates in Hz by sampling-rate index 0 to 2, for MPEG-1; MPEG-2
// halves them and MPEG-2.5 quarters them.
constexpr std::uint32_t mpeg1_sampling_rates[3] = {44100, 48000, 32000};

enum class stream_kind { mpeg, adts };

// One frame header, as far as telling a stream needs. Two frames of one
// stream agree on everything here but the length.
struct frame_header {
    stream_kind kind;
    unsigned version;   // MPEG: 0 = 2.5, 2 = 2, 3 = 1; ADTS: the ID bit
    unsigned layer;     // MPEG: 1 = III, 2 = II, 3 = I; ADTS: always 0
    unsigned sampling;  // the sampling-rate (ADTS: frequency) index
    std::size_t length; // of the whole frame, header included
    [[nodiscard]] bool same_stream(const frame_header& other) const
    {
        return kind == other.kind && version == other.version && layer == other.layer &&
               sampling == other.sampling;
    }
};

constexpr std::size_t mpeg_header_size = 4;
constexpr std::size_t adts_header_size = 7;

// Reads an MPEG audio frame header at the start of `bytes`: 11 sync bits,
// a version and a layer that are not the reserved ones, a bit-rate index
// that is neither 0 (free format) nor 15, and a sampling-rate index that is
// not 3. The caller has checked that four bytes are there.
std::optional<frame_header> read_mpeg_header(bytes_view bytes)
{
    const unsigned version = (bytes[1] >> 3U) & 3U;
    const unsigned layer = (bytes[1] >> 1U) & 3U;
    const unsigned rate_index = bytes[2] >> 4U;
    const unsigned sampling = (bytes[2] >> 2U) & 3U;
    const unsigned padding = (bytes[2] >> 1U) & 1U;
    if (bytes[0] != 0xFF || (bytes[1] & 0xE0U) != 0xE0U || version == 1 || layer == 0 || rate_index == 0 ||
        rate_index == 15 || sampling == 3) {
        return std::nullopt;
    }
    const bool mpeg1 = version == 3;
    const std::size_t table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const std::uint32_t bit_rate = bit_rates[table][rate_index - 1] * 1000U;
    const std::uint32_t sampling_rate = mpeg1_sampling_rates[sampling] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    std::uint32_t length = 0;
    if (layer == 3) {
        length = (12 * bit_rate / sampling_rate + padding) * 4; // Layer I: slots of four bytes
    } else {
        // Layer III of MPEG-2 and 2.5 has half as many samples a frame.
        const std::uint32_t factor = layer == 1 && !mpeg1 ? 72 : 144;
        length = factor * bit_rate / sampling_rate + padding;
    }
    return frame_header{stream_kind::mpeg, version, layer, sampling, length};
}

// Reads an ADTS (AAC) frame header at the start of `bytes`: 12 sync bits,
// layer 0, a sampling-frequency index below 13 and a frame length of at
// least the 7 bytes of the header. The caller has checked that seven bytes
// are there.
std::optional<frame_header> read_adts_header(bytes_view bytes)
{
    const unsigned id = (bytes[1] >> 3U) & 1U;
    const unsigned layer = (bytes[1] >> 1U) & 3U;
    const unsigned sampling = (bytes[2] >> 2U) & 0xFU;
    const std::size_t length = ((bytes[3] & 3U) << 11U) | (static_cast<unsigned>(bytes[4]) << 3U) |
                               (bytes[5] >> 5U);
    if (bytes[0] != 0xFF || (bytes[1] & 0xF0U) != 0xF0U || layer != 0 || sampling >= 13 ||
        length < adts_header_size) {
        return std::nullopt;
    }
    return frame_header{stream_kind::adts, id, layer, sampling, length};
}

enum class header_read { found, none, too_short };

// Reads the frame header of either kind at the start of `bytes`.
header_read read_frame_header(bytes_view bytes, frame_header& header)
{
    if (bytes.size() < mpeg_header_size) {
        return header_read::too_short;
    }
    if (const auto mpeg = read_mpeg_header(bytes)) {
        header = *mpeg;
        return header_read::found;
    }
    // An ADTS header has the MPEG layer bits 00, which MPEG reserves, so
    // the two kinds never both match.
    if (bytes[0] != 0xFF || (bytes[1] & 0xF6U) != 0xF0U) {
        return header_read::none;
    }
    if (bytes.size() < adts_header_size) {
        return header_read::too_short;
    }
    if (const auto adts = read_adts_header(bytes)) {
        header = *adts;
        return header_read::found;
    }
    return header_read::none;
}

// Formats that are never an MPEG audio stream, by the bytes they begin with
// and, for a container, the form named at byte 8. The literals are string
// views of their own, as several hold NUL bytes.
struct file_signature {
    std::size_t offset;
    std::string_view bytes;
    std::string_view form;
    const char* kind;
};
constexpr file_signature other_formats[] = {
    {0, "\xFF\xD8\xFF"sv, ""sv, "JPEG image"},
    {0, "\x89PNG\r\n\x1A\n"sv, ""sv, "PNG image"},
    {0, "GIF8"sv, ""sv, "GIF image"},
    {0, "II*\0"sv, ""sv, "TIFF image"},
    {0, "MM\0*"sv, ""sv, "TIFF image"},
    {0, "RIFF"sv, "WEBP"sv, "WebP image"},
    {0, "RIFF"sv, "WAVE"sv, "WAVE audio"},
    {0, "RIFF"sv, "AVI "sv, "AVI video"},
    {0, "FORM"sv, "AIFF"sv, "AIFF audio"},
    {0, "FORM"sv, "AIFC"sv, "AIFF audio"},
    {0, "fLaC"sv, ""sv, "FLAC audio"},
    {0, "OggS"sv, ""sv, "Ogg media"},
    {0, "wvpk"sv, ""sv, "WavPack audio"},
    {0, "MAC "sv, ""sv, "Monkey's Audio"},
    {0, "MThd"sv, ""sv, "MIDI"},
    {0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv, ""sv, "ASF media"},
    {0, "\x1A\x45\xDF\xA3"sv, ""sv, "Matroska media"},
    {4, "ftyp"sv, ""sv, "MP4 media"},
    {0, "%PDF-"sv, ""sv, "PDF document"},
    {0, "PK\x03\x04"sv, ""sv, "ZIP archive"},
    {0, "Rar!\x1A\x07"sv, ""sv, "RAR archive"},
    {0, "7z\xBC\xAF\x27\x1C"sv, ""sv, "7z archive"},
    {0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, ""sv, "OLE document"},
    // An MPEG program or system stream (.mpg, .vob), a video elementary
    // stream, and a Video CD's RIFF file hold MPEG audio among the video.
    {0, "\x00\x00\x01\xBA"sv, ""sv, "MPEG video"},
    {0, "\x00\x00\x01\xBB"sv, ""sv, "MPEG video"},
    {0, "\x00\x00\x01\xB3"sv, ""sv, "MPEG video"},
    {0, "RIFF"sv, "CDXA"sv, "MPEG video"},
};

bool has_at(bytes_view head, std::size_t offset, std::string_view bytes)
{
    return head.size() >= offset + bytes.size() &&
           std::equal(bytes.begin(), bytes.end(), head.begin() + static_cast<std::ptrdiff_t>(offset),
                      [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
}

// How much of the start tells text from other data.
constexpr std::size_t text_sniff_size = 512;

// A name for a file that holds no audio and matches no signature: text when
// its first 512 bytes (the whole file if shorter) hold no NUL and no control
// byte but tab, line feed, form feed and carriage return; null when nothing
// can be said.
const char* loose_kind(bytes_view head)
{
    if (has_at(head, 0, "\xFF\xFE") || has_at(head, 0, "\xFE\xFF")) {
        return "UTF-16 text";
    }
    if (has_at(head, 0, "BM")) {
        return "BMP image";
    }
    const bytes_view start = head.first(std::min(head.size(), text_sniff_size));
    const bool text = std::ranges::all_of(start, [](unsigned char b) {
        return (b >= 0x20 && b != 0x7F) || b == '\t' || b == '\n' || b == '\f' || b == '\r';
    });
    return text ? "text" : nullptr;
}

} // namespace

std::size_t id3v2_tag_length(std::span<const unsigned char> head)
{
    constexpr std::size_t header_size = 10;
    constexpr unsigned footer_flag = 0x10; // ID3v2.4: a copy of the header closes the tag
    if (head.size() < header_size || head[0] != 'I' || head[1] != 'D' || head[2] != '3' || head[3] < 2 ||
        head[3] > 4 ||
        !std::all_of(head.begin() + 6, head.begin() + 10, [](unsigned char b) { return b < 0x80; })) {
        return 0;
    }
    std::size_t body = 0;
    for (std::size_t i = 6; i < header_size; ++i) {
        body = (body << 7U) | head[i];
    }
    const bool footer = head[3] == 4 && (head[5] & footer_flag) != 0;
    return header_size + body + (footer ? header_size : 0);
}

const char* known_other_format(std::span<const unsigned char> head)
{
    for (const file_signature& signature : other_formats) {
        if (has_at(head, signature.offset, signature.bytes) &&
            (signature.form.empty() || has_at(head, 8, signature.form))) {
            return signature.kind;
        }
    }
    return nullptr;
}

head_verdict judge_file_head(std::span<const unsigned char> head, bool complete, const char** kind)
{
    *kind = nullptr;
    if (id3v2_tag_length(head) != 0) {
        return head_verdict::audio; // unless what follows the tag is plainly not: see known_other_format
    }
    if (const char* other = known_other_format(head)) {
        *kind = other;
        return head_verdict::not_audio;
    }
    // A stream may follow padding, junk or a stream server's text header,
    // so a first header anywhere in the first 64 KiB counts, once a second
    // header of the same stream stands where the first frame ends. A single
    // header by chance is common in any data; two in a row are not.
    const std::size_t last_start = std::min(head.size(), audio_search_start_limit);
    for (std::size_t at = 0; at < last_start; ++at) {
        if (head[at] != 0xFF) {
            continue;
        }
        frame_header first{};
        const header_read read = read_frame_header(head.subspan(at), first);
        if (read == header_read::too_short && !complete) {
            return head_verdict::look_further;
        }
        if (read != header_read::found) {
            continue;
        }
        frame_header second{};
        const std::size_t next = at + first.length;
        const header_read next_read = next < head.size() ? read_frame_header(head.subspan(next), second)
                                                         : header_read::too_short;
        if (next_read == header_read::too_short && !complete) {
            return head_verdict::look_further;
        }
        if (next_read == header_read::found && second.same_stream(first)) {
            return head_verdict::audio;
        }
    }
    if (!complete) {
        return head_verdict::look_further;
    }
    *kind = loose_kind(head);
    return head_verdict::not_audio;
}
