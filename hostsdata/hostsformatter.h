// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Formatting a hosts file: the header exactly as stored, one empty line, then
// the entries in collection order. Consecutive entries of one address without
// a comment share a line, nine hostnames at most:
//     address TAB host [blank host]...
// An entry with a comment stands alone and ends its line with TAB TAB "# " comment.
// Every line ends with CR LF. CR and LF inside a field are written as blanks,
// so no field can break a line or inject one; every other byte, NUL included,
// is written as it is, so that a save changes nothing the system reads.

#include "hostcollection.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

inline constexpr int kMaxHostnamesPerLine = 9;
inline constexpr std::size_t kFormatPieceBytes = 256 * 1024;

// The whole file.
std::string formatHostsFile(std::string_view header, const HostCollection& hosts);
// The same bytes handed to `write` in pieces of about kFormatPieceBytes, so
// that a large file is never held whole; the same pieces every time.
void formatHostsFile(std::string_view header, const HostCollection& hosts,
                     const std::function<void(std::string_view piece)>& write);
