// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace savehelper {

// Why the save helper, running as root, must not write the file at `path`
// (an absolute path), or empty when it may. It resolves the path itself,
// link by link, and refuses unless every folder on the way to the file and
// every symbolic link in the chain is owned by root and writable by no one
// else: no write bit for others, group write only for the root group, and no
// access-list entry that lets another user or group write. Otherwise an
// ordinary user who can change one of them could point the path at any file
// and have root replace it. It also refuses to create a file through a
// dangling link. The file itself may be missing (it is then created in a
// trusted folder) or of any kind (the save refuses what is not a file).
std::string whyNotTrusted(const std::string& path);

} // namespace savehelper
