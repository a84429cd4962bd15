// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Text as the system's files and file names hold it, and as Qt shows it.

#include <QString>

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// Hosts file bytes are in the system's 8-bit encoding: the ANSI code page on
// Windows, UTF-8 elsewhere.
QString textFromFile(std::string_view bytes);
std::string textForFile(const QString& text);

// A path as it is shown. On POSIX systems a path is bytes, decoded as Qt
// decodes file names: a byte that is not UTF-8 shows as a replacement
// character, so the text is for showing only and cannot be turned back into
// the path. On Windows it is the path's own wide text.
QString pathText(const std::filesystem::path& path);
// A path given as text (on the command line, say).
std::filesystem::path pathFromText(const QString& text);

// Makes what is written to standard output reach it byte for byte: Windows
// would otherwise turn each LF into CR LF.
void writeStandardOutputAsBytes();

} // namespace platform
