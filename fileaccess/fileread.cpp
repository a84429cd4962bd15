// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileread.h"

#include <optional>

namespace fileaccess {

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
