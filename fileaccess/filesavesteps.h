// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The steps of a safe save that each system makes with its own calls
// (filesave_posix.cpp, filesave_windows.cpp); what is done with them is the
// same everywhere and lives in filesave.cpp.

#include "filesave.h"
#include "openfile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace fileaccess::savesteps {

// The file at `path` opened to rewrite it in place, or null with `failed`
// saying why (a file that is not a regular one is refused).
std::unique_ptr<OpenFile> openToRewrite(const std::string& path, SaveOutcome& failed);
// The file at `path` opened to read it back after a save, or null with
// `failed` saying why.
std::unique_ptr<OpenFile> openToReadBack(const std::string& path, SaveOutcome& failed);

// The system's last error (errno, or GetLastError), and setting it again.
std::uint32_t lastError();
void setLastError(std::uint32_t error);
// The system's words for an error.
std::string systemWords(std::uint32_t error);

// A failed step: `what` with the system's words for `error`, which also
// tells whether access was refused.
SaveOutcome failure(const std::string& what, std::uint32_t error = lastError());
// The same for a failure of one of the kinds saveFailureReason words.
SaveOutcome failedAs(SaveFailure failure, const std::string& path);

// Tells the test hook that a save has reached `step`.
void reached(SaveStep step);

// Writes every piece of the content; false at the first piece that cannot
// be written (the later ones are passed over), with the system's error kept.
bool writeContent(OpenFile& file, const ContentSource& content);

// Rewrites the file where it stands, which keeps every attribute and every
// hard link of it. It cannot be atomic, so everything else is done before
// the first byte is written: one write of the whole content, the truncation
// and the sync follow each other with no work between. The old bytes are
// kept to write back when that fails.
SaveOutcome rewriteInPlace(const std::string& path, const ContentSource& content);

// Reads the file back and compares it with the content made again; a file
// that ends early or goes on holds other bytes.
SaveOutcome verifyContents(const std::string& path, const ContentSource& content);

// Verifies a save that was written; passes on one that was not.
SaveOutcome verifyAfter(const SaveOutcome& written, const std::string& path, const ContentSource& content);

} // namespace fileaccess::savesteps
