// SPDX-License-Identifier: GPL-3.0-or-later
#include "filesave.h"

#include "filesavesteps.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

namespace fileaccess {
namespace {

void (*saveStepHook)(SaveStep) = nullptr;

// Reads exactly `size` bytes unless the file ends first; how many were read,
// or -1.
long long readExactly(OpenFile& file, char* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const long long got = file.read(buffer + done, size - done);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

bool readAll(OpenFile& file, std::string& out)
{
    char buffer[1 << 16];
    for (;;) {
        const long long got = file.read(buffer, sizeof buffer);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        out.append(buffer, static_cast<std::size_t>(got));
    }
}

bool rewrite(OpenFile& file, std::string_view bytes)
{
    if (!file.rewind() || !file.writeAll(bytes))
        return false;
    savesteps::reached(SaveStep::InPlaceWritten);
    return file.truncate(bytes.size()) && file.sync();
}

SaveOutcome rewriteInPlace(const std::string& path, std::string_view bytes)
{
    using savesteps::failure;
    SaveOutcome failed;
    const std::unique_ptr<OpenFile> file = savesteps::openToRewrite(path, failed);
    if (!file)
        return failed;
    std::string previous;
    previous.reserve(static_cast<std::size_t>(file->openedSize()));
    if (!readAll(*file, previous))
        return failure("Cannot read " + path);
    savesteps::reached(SaveStep::InPlaceOldRead);

    if (rewrite(*file, bytes)) {
        if (!file->close())
            return failure("The new content was written to " + path
                           + " and synced, but closing the file reported an error");
        return {true, {}};
    }
    SaveOutcome written = failure("Cannot write " + path);
    if (!rewrite(*file, previous))
        written.reason += " (and its previous content could not be written back: "
            + savesteps::systemWords(savesteps::lastError()) + ")";
    return written;
}

} // namespace

namespace testing {
void setSaveStepHook(void (*hook)(SaveStep))
{
    saveStepHook = hook;
}
} // namespace testing

namespace savesteps {

void reached(SaveStep step)
{
    if (saveStepHook)
        saveStepHook(step);
}

SaveOutcome failedAs(SaveFailure failure, const std::string& path)
{
    return {false, saveFailureReason(failure, path), false, failure};
}

bool writeContent(OpenFile& file, const ContentSource& content)
{
    std::optional<std::uint32_t> error;
    content([&](std::string_view piece) {
        if (!error && !file.writeAll(piece))
            error = lastError();
    });
    if (error)
        setLastError(*error);
    return !error;
}

// The in-place rewrite makes one write of the whole content, the narrowest
// window for a crash to tear the file in, so it holds the content whole.
SaveOutcome rewriteInPlace(const std::string& path, const ContentSource& content)
{
    std::string bytes;
    content([&](std::string_view piece) { bytes.append(piece); });
    return fileaccess::rewriteInPlace(path, std::string_view(bytes));
}

// Compares piece by piece with the content made again: a copy of a large
// file read back whole, or kept from writing it, would double the memory
// the save needs.
SaveOutcome verifyContents(const std::string& path, const ContentSource& content)
{
    SaveOutcome failed;
    const std::unique_ptr<OpenFile> file = openToReadBack(path, failed);
    if (!file)
        return failed;
    std::optional<SaveOutcome> differs;
    char buffer[1 << 16];
    content([&](std::string_view piece) {
        while (!differs && !piece.empty()) {
            const std::size_t size = std::min(piece.size(), sizeof buffer);
            const long long got = readExactly(*file, buffer, size);
            if (got < 0)
                differs = failure("Cannot read " + path + " back after saving");
            else if (static_cast<std::size_t>(got) != size || std::memcmp(buffer, piece.data(), size) != 0)
                differs = failedAs(SaveFailure::NotVerified, path);
            piece.remove_prefix(size);
        }
    });
    if (differs)
        return *differs;
    const long long more = readExactly(*file, buffer, 1);
    if (more < 0)
        return failure("Cannot read " + path + " back after saving");
    return more == 0 ? SaveOutcome{true, {}} : failedAs(SaveFailure::NotVerified, path);
}

SaveOutcome verifyAfter(const SaveOutcome& written, const std::string& path, const ContentSource& content)
{
    return written.saved ? verifyContents(path, content) : written;
}

} // namespace savesteps

SaveOutcome replaceFileContents(const std::string& path, std::string_view bytes)
{
    return replaceFileContents(path, [bytes](const std::function<void(std::string_view)>& write) { write(bytes); });
}

} // namespace fileaccess
