// Shared command-line support for the Toolcrate tools: program name, banner,
// error line and small numeric text routines. Compiled into every tool.
//
// Offered to the family's other tools, and called by neither kerfsum nor
// tagwhit yet, so kept on purpose: write_hex, write_decimal,
// write_decimal_digits, exit_configuration_error, the stream argument of
// print_error, and every base of parse_integer but 10. The build links the
// whole module into each tool, so none of them is dropped.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <sys/types.h>

// The two lines of the banner that differ from tool to tool. Each program
// that links the module (each tool, and each test program) defines exactly
// one `tool_banner`; print_banner() prints that one.
struct banner_text {
    const char* title;  // line 1, e.g. "kerfsum - ..."
    const char* rights; // line 2, printed after two spaces
};
extern const banner_text tool_banner;

// Home page of the tool family, printed on banner line 4.
inline constexpr const char* family_home_page = "https://toolcrate.example/";

// Rewrites a program path in place to the bare, lower-case tool name:
// the part after the last '/' or '\', cut at its first '.', with ASCII
// capitals lowered. The result is never longer than the input.
void normalize_program_name(char* name);

// Prints the five-line banner of `tool_banner` to stdout (no flush).
void print_banner();

// Prints "Error: [NAME: ]TEXT\n" to stdout (NAME as print_name shows it), where TEXT is
// "Unexpected end-of-file" when `stream` is non-null and at end of file, and
// strerror(errno) otherwise. errno is read once, before anything is printed.
// `stream` and `name` may be null.
void print_error(std::FILE* stream, const char* name);

// Prints strerror(`error`) and a line feed: the result of a file that could
// not be read or updated, which completes the line its name began.
void print_error_text(int error);

// Writes the 64-bit pattern of `value` in upper-case hexadecimal, one fputc
// per digit, without prefix or sign, zero-padded to at least `min_digits`
// digits (at most 16 are ever written; zero with min_digits <= 0 writes
// nothing). Does not flush; write errors are not reported.
void write_hex(std::FILE* stream, std::int64_t value, std::int32_t min_digits);

// Writes `value` in decimal ("-" and the magnitude when negative, including
// INT64_MIN), one fputc per character. Does not flush; write errors are not
// reported.
void write_decimal(std::FILE* stream, std::int64_t value);

// Writes the decimal digits of `magnitude`, most significant first, with no
// leading zeros (0 writes "0"). Does not flush; write errors are not reported.
void write_decimal_digits(std::FILE* stream, std::uint64_t magnitude);

// Parses an integer like strtoll, but white space is only ' ' and '\t'..'\r',
// and "0x" (base 0 or 16) with no hex digit after it reads no digit. Overflow
// saturates to INT64_MAX/INT64_MIN with errno = ERANGE. `*end` (if non-null)
// gets the first byte not read as a digit, or `text` if none was. A base not 0
// or 2..36 gives 0, `*end` = `text`, errno = EINVAL; errno is otherwise untouched.
[[nodiscard]] std::int64_t parse_integer(const char* text, const char** end, int base);

// White space of every text the tools read (listings, numbers): the space
// and tab to carriage return. A fixed set, no locale, so that the same text
// reads alike everywhere; bytes from 0x80 up are ordinary characters.
[[nodiscard]] constexpr bool is_white_space(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Writes all of `bytes` to `fd`, at the file position when `offset` is
// negative, else at `offset` (pwrite), resuming after short writes and
// EINTR. Returns false with errno set when a write fails (EIO when a write
// makes no progress and gives no reason).
[[nodiscard]] bool write_all(int fd, std::span<const char> bytes, off_t offset = -1);

// Reads up to `buffer.size()` bytes of `fd` at `offset` (pread, so the file
// position stays), resuming after short reads and EINTR. Returns the number
// read, fewer only at the end of the file, or -1 with errno set.
[[nodiscard]] ssize_t read_at(int fd, std::span<std::byte> buffer, off_t offset);

// Closes `fd` for a caller that is already reporting another failure:
// errno keeps that failure's reason, whatever close does.
void close_keeping_errno(int fd);

// Prints `name` to stdout left-aligned in at least `width` bytes, then
// `suffix`: printf("%-*s%s"). When stdout is a terminal, every byte that
// could make the terminal act is shown as \xHH (and counted so): C0
// controls, DEL, the C1 controls U+0080 to U+009F written in UTF-8, and
// bytes 80 to 9F that belong to no well-formed UTF-8 character, which an
// 8-bit terminal reads as C1 controls. Every other byte goes out as it is.
// Write errors are left to finish_standard_output.
void print_name(const char* name, int width, const char* suffix);

// The next piece of a name as print_name shows it on a terminal: `length`
// bytes (1 to 4, one character or one stray byte) from the start of the
// NUL-terminated `text`, which is not empty, shown as \xHH each when
// `escaped`, else as they are. Pure.
struct name_piece {
    std::size_t length;
    bool escaped;
};
[[nodiscard]] name_piece next_name_piece(const char* text);

// `error`, or EIO when it is 0: the reason to report for a failure that set
// no error number (a short write, a stream's error flag).
[[nodiscard]] constexpr int error_or_eio(int error)
{
    return error != 0 ? error : EIO;
}

// The start of every tool's main: normalises the program name (argv[0], or
// an empty name when the process was started without any arguments) and
// makes the inherited state safe (guard_inherited_state). Returns the
// name; returns null after printing "Error: TEXT" when the state cannot be
// made safe, and the tool must then exit with status 1, opening no file.
[[nodiscard]] char* start_tool(int argc, char** argv);

// Makes what the process inherited safe before any file is opened. A closed
// descriptor 0, 1 or 2 is taken by /dev/null, opened for the direction it is
// not used in, so no file the tool opens can receive that number while
// writes to a closed stdout or stderr still fail (EBADF) as they would have.
// SIGPIPE and SIGXFSZ are ignored, so a reader going away or a file-size
// limit makes the write fail (EPIPE, EFBIG) instead of ending the process in
// the middle of a file's update. Returns false, with errno set, when a closed
// descriptor could not be taken; the tool must then open no file.
[[nodiscard]] bool guard_inherited_state();

// Flushes stdout and tells whether everything written to it arrived. If not,
// prints "Error: standard output: TEXT\n" to stderr, the one message the
// tools write there (kerfsum also draws its progress there, on a terminal
// only), and returns false. TEXT is strerror of the last failed flush (this
// one or a flush_standard_output), or "write error" when no flush failed
// and the reason of the write that did is lost.
[[nodiscard]] bool finish_standard_output();

// Flushes stdout, to show what was printed before a long task. Returns false
// when the flush fails, with errno set and its reason kept for
// finish_standard_output, or when an earlier write to stdout failed.
[[nodiscard]] bool flush_standard_output();

// Prints "Configuration error" to stdout and exits with status 1 through
// exit(), so that atexit handlers run and buffered output is flushed.
[[noreturn]] void exit_configuration_error();
