// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace savehelper {

// Whether `path` is an absolute path on a local drive ("X:\..." on a fixed,
// removable, optical or RAM drive): the only form of staged request path the
// helper opens. Opening anything else as an administrator could reach out to
// a server (\\server\share, \\host@80\ for WebDAV, a mapped network drive),
// which would then get the administrator's credentials, or connect to a pipe
// of the user's (\\.\pipe\...); the \\?\, \\.\ and \??\ prefixes, forward
// slashes, relative and drive-relative paths and alternate data streams are
// refused as well. Looks at no file.
bool isLocalDrivePath(std::wstring_view path);

} // namespace savehelper
