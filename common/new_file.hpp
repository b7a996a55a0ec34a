// A new file that must not outlive a run that could not complete it: a
// listing cut short names only some of its files, yet would verify as if it
// were whole. From its creation until the writer keeps or discards it, a
// signal that ends the run removes it, and the run still ends by that
// signal. One such file at a time per process.
#pragma once

#include <span>

// Creates `path` for writing only, mode 0666 less the umask, only if nothing
// at all is at the path (not even a dangling symbolic link). Returns the
// descriptor, or -1 with errno set (EEXIST when something is there). From
// then on, each signal whose default action ends the process removes the
// file, except a signal ignored at start (SIGHUP under nohup), SIGPIPE and
// SIGXFSZ (which the tools ignore), and the signals that report a fault in
// the program itself. The file is known by its device and inode, so nothing
// put at the path since is ever removed; when fstat cannot tell them, the
// file is left alone. `path` must stay valid until new_file_keep or
// new_file_discard.
[[nodiscard]] int new_file_create(const char* path);

// The file is complete: from now on a signal leaves it.
void new_file_keep();

// The file could not be completed: removes it if it is still the file
// new_file_create made, and disarms. Keeps errno.
void new_file_discard();

// The signals new_file_create guards by name: every signal whose default
// action ends the process, less those excepted above. Each real-time signal
// (SIGRTMIN to SIGRTMAX) is guarded too.
[[nodiscard]] std::span<const int> new_file_guarded_signals();
