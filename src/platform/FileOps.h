// File operations that must not lose data when the machine crashes or a
// disk fills up half-way through a save, and the space a file system has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class WriteStage { None, Open, Write };

// Replaces `path` with `size` bytes from `data`: writes a temporary file in the
// same directory, flushes it to the disk, then renames it over `path`. The old
// file stays untouched unless the whole new content reached the disk. Returns
// 0 or the errno of the failing step; `stage` (optional) tells which step
// failed (creating the temporary counts as Open, everything after as Write).
// A new file gets mode 0666 less the umask, an existing one keeps its mode.
// Any thread.
int AtomicWriteFile(const std::string& path, const void* data, std::size_t size, WriteStage* stage = nullptr);

// The file system holding `path` (any file or directory on it): its blocks
// available to unprivileged users, its total blocks (f_bavail, f_blocks)
// and its block size (f_bsize); each pointer may be null. Returns 0 or the
// errno of statvfs, leaving the outputs alone on failure. Any thread.
int FileSystemSpace(const char* path, std::uint64_t* avail, std::uint64_t* total, std::uint64_t* blockSize);
