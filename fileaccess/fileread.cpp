// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileread.h"

#include "filesavesteps.h"

#include <optional>

namespace fileaccess {

ReadOutcome readInChunks(OpenFile& file, const std::function<void(std::string_view)>& consume, std::uint64_t tooLarge)
{
    const std::unique_ptr<char[]> buffer(new char[kReadChunkBytes]);
    std::uint64_t total = 0;
    for (;;) {
        const long long got = file.read(buffer.get(), kReadChunkBytes);
        if (got < 0)
            return ReadOutcome::failed(savesteps::systemWords(savesteps::lastError()));
        if (got == 0)
            return {ReadStatus::Complete, {}};
        consume({buffer.get(), static_cast<std::size_t>(got)});
        // The file may grow while it is read.
        total += static_cast<std::uint64_t>(got);
        if (total >= tooLarge)
            return ReadOutcome::failed("The file is too large");
    }
}

FileContents readWhole(OpenFile& file)
{
    FileContents whole;
    whole.bytes.reserve(static_cast<std::size_t>(file.openedSize()));
    // One byte more than its size tells a file that grew.
    static_cast<ReadOutcome&>(whole) = readInChunks(
        file, [&](std::string_view chunk) { whole.bytes.append(chunk); }, file.openedSize() + 1);
    if (whole.bytes.size() > file.openedSize()
        || (whole.status == ReadStatus::Complete && whole.bytes.size() != file.openedSize()))
        static_cast<ReadOutcome&>(whole) = ReadOutcome::failed("It changed while it was read");
    if (whole.status != ReadStatus::Complete)
        whole.bytes.clear();
    return whole;
}

ReadOutcome readFileInChunks(const std::string& path, const std::function<void(std::string_view)>& consume,
                             const std::function<void(std::uint64_t)>& sized)
{
    ReadOutcome outcome;
    const std::unique_ptr<OpenFile> file = openToRead(systemPath(path), outcome);
    if (!file)
        return outcome;
    if (file->openedSize() >= kMaxFileBytes)
        return ReadOutcome::failed("The file is too large");
    if (sized)
        sized(file->openedSize());
    return readInChunks(*file, consume);
}

FileContents readFileBytes(const std::string& path)
{
    FileContents file;
    const ReadOutcome read = readFileInChunks(path, [&](std::string_view chunk) { file.bytes.append(chunk); });
    static_cast<ReadOutcome&>(file) = read;
    if (read.status != ReadStatus::Complete)
        file.bytes.clear();
    return file;
}

FileSnapshot snapshotFile(const std::string& path, std::string* unreadable,
                          const std::function<void(std::string_view)>& alsoRead)
{
    SnapshotDigest digest;
    const ReadOutcome read = readFileInChunks(path, [&](std::string_view chunk) {
        digest.feed(chunk);
        if (alsoRead)
            alsoRead(chunk);
    });
    switch (read.status) {
    case ReadStatus::NoFile:
        return {};
    case ReadStatus::Failed:
        if (unreadable)
            *unreadable = read.reason;
        return {FileSnapshot::State::Unreadable, 0, 0};
    case ReadStatus::Complete:
        break;
    }
    return digest.finish();
}

HostsFileReading readHostsFile(const std::string& path, HostCollection& hosts, std::string& header,
                               const DuplicateNotice& notice)
{
    std::optional<HostsParser> parser;
    SnapshotDigest digest;
    const ReadOutcome read = readFileInChunks(
        path,
        [&](std::string_view chunk) {
            digest.feed(chunk);
            if (!parser)
                parser.emplace();
            parser->feed(chunk);
        },
        [&](std::uint64_t size) { parser.emplace(static_cast<std::size_t>(size)); });
    HostsFileReading report;
    static_cast<ReadOutcome&>(report) = read;
    switch (read.status) {
    case ReadStatus::NoFile:
        return report;
    case ReadStatus::Failed:
        report.snapshot.state = FileSnapshot::State::Unreadable;
        return report;
    case ReadStatus::Complete:
        break;
    }
    report.snapshot = digest.finish();
    if (!parser)
        parser.emplace();
    report.stats = parser->finish(hosts, header, notice);
    return report;
}

} // namespace fileaccess
