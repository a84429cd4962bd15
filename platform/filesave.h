#pragma once

#include <string>
#include <string_view>

namespace platform {

struct SaveOutcome {
    bool saved = false;
    std::string reason; // what failed and the system's words, when not saved
};

// Replaces the content of the file at `path` with `bytes`, so that the file
// holds either all of its old bytes or all of the new ones.
//
// POSIX: a new file is written beside the target (exclusive create, random
// name), synced, given the target's mode, owner, group and extended
// attributes, and renamed over it; the directory is synced. A symbolic link
// is followed: its target is replaced and the link stays. Where the rename is
// refused (a bind-mounted file, another device) or the metadata cannot be
// carried over, the file is rewritten in place, and its old bytes are written
// back if that fails. A missing file is created with mode 0644.
// Windows: the same with ReplaceFileW, which keeps ACLs and attributes.
//
// Afterwards the file is read back; different bytes count as a failure.
// On failure no temporary file is left behind.
SaveOutcome replaceFileContents(const std::string& path, std::string_view bytes);

} // namespace platform
