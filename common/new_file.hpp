// A new file that must not be seen under its name until it is complete: a
// listing cut short names only some of its files, yet would verify as if it
// were whole. It is written under a hidden temporary name beside its real
// one and given the real name only once it is complete and on disk. Until
// then, a signal that ends the run removes it, and the run still ends by
// that signal; a run killed outright (SIGKILL, a power cut) leaves at most
// the temporary file, never a file at the real name. One such file at a
// time per process.
#pragma once

#include <span>

// Creates a temporary file for writing only, mode 0666 less the umask, in
// the directory of `path`, named ".BASE.unfinished" (BASE the last
// component of `path`), or ".unfinished" where that name is too long; "-N"
// follows while the name is taken. Returns the descriptor, or -1 with errno
// set (ENOENT for an empty `path`, EISDIR for one that ends in '/'). From
// then on, each signal whose default action ends the process removes the
// temporary file, except a signal ignored at start (SIGHUP under nohup),
// SIGPIPE and SIGXFSZ (which the tools ignore), and the signals that report
// a fault in the program itself. The file is known by its device and inode, so nothing put at its
// name since is ever removed; when fstat cannot tell them, the file is left
// alone. `path` must stay valid until new_file_keep or new_file_discard.
[[nodiscard]] int new_file_create(const char* path);

// The file is complete, and its data already made durable by the caller
// (fsync) and closed: gives it the name `path`, only if nothing has
// appeared there meanwhile, and makes the name durable (fsync of the
// directory). Returns true when the file has its name; false with errno set
// otherwise (EEXIST when something is at `path` now), the temporary file
// then removed, except when only making the name durable failed: the file
// then has its name and is kept. Either way a signal no longer touches it.
[[nodiscard]] bool new_file_keep();

// The file could not be completed: removes it if it is still the file
// new_file_create made, and disarms. Keeps errno.
void new_file_discard();

// The signals new_file_create guards by name: every signal whose default
// action ends the process, less those excepted above. Each real-time signal
// (SIGRTMIN to SIGRTMAX) is guarded too.
[[nodiscard]] std::span<const int> new_file_guarded_signals();
