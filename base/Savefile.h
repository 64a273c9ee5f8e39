#pragma once
// The one way the product writes a file the user named (settings files, exports, and any file
// the window or the command line writes later).
#include <string>

// Replaces the file at `path` with `content`, all or nothing: the content goes to a temporary
// file beside it, renamed into place once it is all on disk. A symlink is followed and stays a
// link. A path that names something other than a regular file (a directory, a FIFO, a device
// node), directly or through a symlink, is refused and left as it is: renaming over it would
// replace a device's node with a file. Raises TModelError naming the path and the cause.
void SaveFileContent(const std::string& path, const std::string& content);
