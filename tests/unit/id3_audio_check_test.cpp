// Telling MPEG audio from other files by their first bytes.
#include "id3.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

// `count` frames of `length` bytes, each `header` then zeros.
std::string frames(const std::string& header, std::size_t length, int count = 2)
{
    std::string one = header + std::string(length - header.size(), '\0');
    std::string all;
    for (int i = 0; i < count; ++i) {
        all += one;
    }
    return all;
}

const std::string mp3_header = "\xFF\xFB\x90\x00"s; // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417 bytes
const std::string mp3 = frames(mp3_header, 417);
const std::string adts_header = "\xFF\xF1\x50\x80\x19\x1F\xFC"s; // AAC, 44.1 kHz, 200 bytes

TEST(judge_file_head, takes_only_confirmed_mpeg_audio)
{
    const struct {
        const char* what;
        std::string head;
        head_verdict verdict;
        const char* kind = nullptr;
        bool complete = true;
    } cases[] = {
        {"MPEG-1 Layer III", mp3, head_verdict::audio},
        {"padded frame", "\xFF\xFB\x92\x00"s + std::string(414, '\0') + mp3_header, head_verdict::audio},
        {"MPEG-1 Layer III, 320 kbit/s", frames("\xFF\xFB\xE0\x00"s, 1044), head_verdict::audio},
        {"MPEG-1 Layer II", frames("\xFF\xFD\x90\x00"s, 522), head_verdict::audio},
        {"MPEG-1 Layer I", frames("\xFF\xFF\x90\x00"s, 312), head_verdict::audio},
        {"padded MPEG-1 Layer I: a slot of four bytes", frames("\xFF\xFF\x92\x00"s, 316), head_verdict::audio},
        {"MPEG-2 Layer II", frames("\xFF\xF5\x80\x00"s, 417), head_verdict::audio},
        {"MPEG-2 Layer III", frames("\xFF\xF3\x80\x00"s, 208), head_verdict::audio},
        {"MPEG-2.5 Layer III", frames("\xFF\xE3\x80\x00"s, 417), head_verdict::audio},
        {"ADTS", frames(adts_header, 200), head_verdict::audio},
        {"ID3v2", "ID3\x04\x00\x00\x00\x00\x02\x01"s, head_verdict::audio},
        {"ID3v2.2", "ID3\x02\x00\x00\x00\x00\x02\x01"s, head_verdict::audio},
        {"zeros, junk or a server's header first", std::string(3000, '\0') + "ICY 200 OK\r\n" + mp3,
         head_verdict::audio},
        {"first header at the last place", std::string(audio_search_start_limit - 1, 'x') + mp3, head_verdict::audio},
        {"first header past it", std::string(audio_search_start_limit, 'x') + mp3, head_verdict::not_audio, "text"},
        {"one frame", frames(mp3_header, 417, 1), head_verdict::not_audio},
        {"second header off by one", mp3.substr(0, 416) + frames(mp3_header, 417, 1), head_verdict::not_audio},
        {"second header of another stream", mp3_header + std::string(413, '\0') + "\xFF\xFD\x90\x00"s,
         head_verdict::not_audio},
        {"second header at another sampling rate", mp3_header + std::string(413, '\0') + "\xFF\xFB\x94\x00"s,
         head_verdict::not_audio},
        // Spaced as a frame of MPEG-2.5 would be: only the version is wrong.
        {"reserved version", frames("\xFF\xEB\x90\x00"s, 522), head_verdict::not_audio},
        {"reserved layer", frames("\xFF\xF9\x90\x00"s, 417), head_verdict::not_audio},
        {"free format", frames("\xFF\xFB\x00\x00"s, 417), head_verdict::not_audio},
        {"bit-rate index 15", frames("\xFF\xFB\xF0\x00"s, 104), head_verdict::not_audio},
        {"sampling-rate index 3", frames("\xFF\xFB\x9C\x00"s, 417), head_verdict::not_audio},
        {"ADTS frequency index 13", frames("\xFF\xF1\x74\x80\x19\x1F\xFC"s, 200), head_verdict::not_audio},
        {"ADTS frames shorter than their header", frames("\xFF\xF1\x50\x80\x00\xDF"s, 6, 50), head_verdict::not_audio},
        {"ID3v2 major version 5", "ID3\x05\x00\x00\x00\x00\x02\x01"s + std::string(200, '\0'), head_verdict::not_audio},
        {"ID3v2 major version 1", "ID3\x01\x00\x00\x00\x00\x02\x01"s + std::string(200, '\0'), head_verdict::not_audio},
        {"ID3v2 size byte 1 of 8 bits", "ID3\x03\x00\x00\x80\x00\x02\x01"s + std::string(200, '\0'),
         head_verdict::not_audio},
        {"ID3v2 size byte 2 of 8 bits", "ID3\x03\x00\x00\x00\x80\x02\x01"s + std::string(200, '\0'),
         head_verdict::not_audio},
        {"ID3v2 size byte 3 of 8 bits", "ID3\x03\x00\x00\x00\x00\x82\x01"s + std::string(200, '\0'),
         head_verdict::not_audio},
        {"ID3v2 size byte 4 of 8 bits", "ID3\x03\x00\x00\x00\x00\x02\x81"s + std::string(200, '\0'),
         head_verdict::not_audio},
        {"JPEG", "\xFF\xD8\xFF\xE0"s + mp3, head_verdict::not_audio, "JPEG image"},
        {"WAVE", "RIFF\x24\x00\x00\x00WAVEfmt "s + mp3, head_verdict::not_audio, "WAVE audio"},
        {"RIFF of another form", "RIFF\x24\x00\x00\x00XXXX"s + std::string(200, '\0'), head_verdict::not_audio},
        {"MP4",
         "\0\0\0\x20"
         "ftypM4A "s +
             std::string(200, '\0'),
         head_verdict::not_audio, "MP4 media"},
        {"UTF-16 text with a mark",
         "\xFF\xFE"
         "h\0i\0 \0t\0h\0e\0r\0e\0\r\0\n\0"s +
             std::string(300, ' '),
         head_verdict::not_audio, "UTF-16 text"},
        {"text", std::string(512, 'a') + "\x01", head_verdict::not_audio, "text"},
        {"a control byte among the first 512", std::string(511, 'a') + "\x01", head_verdict::not_audio},
        {"DEL", "a\x7F" + std::string(300, 'a'), head_verdict::not_audio},
        {"tab, line feed, form feed, carriage return", "a\t\n\f\r" + std::string(300, 'a'), head_verdict::not_audio,
         "text"},
        {"a first look that finds nothing", std::string(4096, 'x'), head_verdict::look_further, nullptr, false},
        {"a first look that cannot confirm", mp3.substr(0, 420), head_verdict::look_further, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const char* kind = "unset";
        const auto* bytes = reinterpret_cast<const unsigned char*>(c.head.data());
        EXPECT_EQ(judge_file_head({bytes, c.head.size()}, c.complete, &kind), c.verdict);
        if (c.verdict == head_verdict::not_audio) {
            EXPECT_STREQ(kind, c.kind);
        }
    }
}

} // namespace
