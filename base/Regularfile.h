#pragma once
// The one way the product opens a file the user named, or one of its own data folder, for
// reading or appending: only a regular file is taken, and nothing ever waits on a FIFO or a
// device node, nor reads without end from one.
#include <cstdint>
#include <string>
#include <sys/types.h>

// The most a settings file or a definition file is read: far beyond any real one.
constexpr uint64_t MaxInputFileSize = uint64_t{64} << 20;

// What a file type is called in a refusal: "a directory", "a FIFO", "a symbolic link", ...
const char* FileKindName(mode_t mode);

// Opens `path` with `flags` (O_CLOEXEC and O_NOCTTY are added; O_NOFOLLOW, when given, refuses a
// symbolic link at the last component) without blocking on a FIFO or a device, and makes sure
// it is a regular file. Returns the descriptor (blocking, as usual for a regular file), or -1
// with errno set (ENOENT for a missing file) and `reason` the sentence to show, such as
// "It is a FIFO, not a regular file.". Never raises.
int OpenRegularFile(const std::string& path, int flags, std::string& reason, mode_t mode = 0644);

// Reads the regular file at `path` whole (a symbolic link is followed unless `followLinks` is
// false). Raises TModelError "Cannot open <what> \"<path>\". <reason> <advice>" when it is
// anything else, cannot be read, or holds more than `limit` bytes; `advice` says what to do
// (by default: name a regular file).
std::string ReadRegularFile(const std::string& path, uint64_t limit = MaxInputFileSize,
                            const std::string& what = "file", bool followLinks = true,
                            const std::string& advice = {});
