#include "hostsreader.h"

#include <absl/hash/hash.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace {

bool isSeparator(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimSeparators(std::string_view text)
{
    while (!text.empty() && isSeparator(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSeparator(text.back()))
        text.remove_suffix(1);
    return text;
}

void appendWithTabsAsBlanks(std::string& out, std::string_view text)
{
    const std::size_t start = out.size();
    out.append(text);
    for (std::size_t i = start; i < out.size(); ++i)
        if (out[i] == '\t')
            out[i] = ' ';
}

// Splits bytes into lines at CR LF, lone LF and lone CR. Keeps the next CR
// and LF positions so that each byte is searched by memchr about once.
class LineSplitter {
public:
    explicit LineSplitter(std::string_view bytes) : bytes_(bytes)
    {
        static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
        if (bytes_.substr(0, kByteOrderMark.size()) == kByteOrderMark)
            position_ = kByteOrderMark.size();
        nextCr_ = find('\r', position_);
        nextLf_ = find('\n', position_);
    }

    bool next(std::string_view& line)
    {
        if (position_ >= bytes_.size())
            return false;
        if (nextCr_ < position_)
            nextCr_ = find('\r', position_);
        if (nextLf_ < position_)
            nextLf_ = find('\n', position_);
        const std::size_t end = std::min(nextCr_, nextLf_);
        line = bytes_.substr(position_, end - position_);
        if (end == bytes_.size())
            position_ = end;
        else if (bytes_[end] == '\r' && end + 1 < bytes_.size() && bytes_[end + 1] == '\n')
            position_ = end + 2;
        else
            position_ = end + 1;
        return true;
    }

private:
    std::size_t find(char c, std::size_t from) const
    {
        if (from >= bytes_.size())
            return bytes_.size();
        const void* hit = std::memchr(bytes_.data() + from, c, bytes_.size() - from);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - bytes_.data()) : bytes_.size();
    }

    std::string_view bytes_;
    std::size_t position_ = 0;
    std::size_t nextCr_ = 0;
    std::size_t nextLf_ = 0;
};

std::size_t countLineBreaks(std::string_view bytes)
{
    std::size_t count = 0;
    for (const char* at = bytes.data(), *end = bytes.data() + bytes.size();
         (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) != nullptr; ++at)
        ++count;
    return count;
}

std::string systemReason(int error)
{
    return std::strerror(error);
}

constexpr std::size_t kMaxFileSize = std::size_t{1} << 31;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

namespace {

// Adds entries in reading order, each a few entries after it was made: its
// index slot is prefetched when it is made, so that by the time it is added
// the probe no longer waits for memory. Adding in order keeps the first of two
// equal hostnames, as adding at once would.
class PrefetchingAdder {
public:
    PrefetchingAdder(HostCollection& hosts, ParseStats& stats, const DuplicateNotice& notice)
        : hosts_(hosts), stats_(stats), notice_(notice), silenced_(!notice)
    {
    }

    void add(HostEntryRef entry)
    {
        const std::uint32_t hash = HostCollection::keyHash(entry->host());
        hosts_.prefetch(hash);
        Pending& slot = pending_[next_ % kDistance];
        if (next_ >= kDistance)
            addNow(slot);
        slot = Pending{std::move(entry), hash};
        ++next_;
    }

    void finish()
    {
        const std::size_t waiting = std::min(next_, kDistance);
        for (std::size_t i = next_ - waiting; i < next_; ++i)
            addNow(pending_[i % kDistance]);
        next_ = 0;
    }

private:
    static constexpr std::size_t kDistance = 16;
    struct Pending {
        HostEntryRef entry;
        std::uint32_t hash = 0;
    };

    void addNow(Pending& pending)
    {
        if (hosts_.add(std::move(pending.entry), pending.hash)) {
            ++stats_.entries;
            return;
        }
        ++stats_.duplicates;
        if (!silenced_ && notice_(pending.entry->host()) == NoticeAnswer::Silence)
            silenced_ = true;
        pending.entry = HostEntryRef();
    }

    HostCollection& hosts_;
    ParseStats& stats_;
    const DuplicateNotice& notice_;
    bool silenced_;
    Pending pending_[kDistance];
    std::size_t next_ = 0;
};

} // namespace

ParseStats parseHosts(std::string_view bytes, HostCollection& hosts, std::string& header,
                      const DuplicateNotice& notice)
{
    ParseStats stats;
    // Most lines of a large hosts file name one hostname; making room for
    // that many up front saves regrowing the collection while reading.
    hosts.reserve(hosts.size() + countLineBreaks(bytes));
    HostEntryBlocks blocks;
    PrefetchingAdder adder(hosts, stats, notice);
    bool entryLineSeen = false;
    std::string commentWithBlanks;

    LineSplitter lines(bytes);
    std::string_view line;
    while (lines.next(line)) {
        line = trimSeparators(line);
        if (line.empty())
            continue;
        if (line.front() == '#') {
            if (!entryLineSeen) {
                appendWithTabsAsBlanks(header, line);
                header += "\r\n";
            }
            continue;
        }
        entryLineSeen = true;

        std::string_view comment;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
            comment = trimSeparators(line.substr(hash + 1));
            line = trimSeparators(line.substr(0, hash));
            if (comment.find('\t') != std::string_view::npos) {
                commentWithBlanks.clear();
                appendWithTabsAsBlanks(commentWithBlanks, comment);
                comment = commentWithBlanks;
            }
        }

        std::string_view address;
        std::size_t position = 0;
        while (position < line.size()) {
            std::size_t end = position;
            while (end < line.size() && !isSeparator(line[end]))
                ++end;
            const std::string_view field = line.substr(position, end - position);
            position = end;
            while (position < line.size() && isSeparator(line[position]))
                ++position;

            if (address.empty())
                address = field;
            else
                adder.add(blocks.create(address, field, comment));
        }
    }
    adder.finish();
    return stats;
}

FileSnapshot FileSnapshot::of(std::string_view bytes)
{
    return {State::Present, bytes.size(), absl::Hash<absl::string_view>{}(absl::string_view(bytes.data(), bytes.size()))};
}

FileBytes readFileBytes(const std::string& path)
{
    FileBytes result;
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        const int error = errno;
        result.status = error == ENOENT ? ReadStatus::NoFile : ReadStatus::Failed;
        result.reason = systemReason(error);
        return result;
    }
    // Reads straight into the string, grown by doubling from the file's
    // size, so that the bytes are copied once.
    std::size_t capacity = 1 << 16;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        if (const long size = std::ftell(file.get()); size > 0)
            capacity = static_cast<std::size_t>(size) + 1;
        std::rewind(file.get());
    }
    std::size_t used = 0;
    for (;;) {
        if (capacity >= kMaxFileSize) {
            result.status = ReadStatus::Failed;
            result.reason = "The file is too large.";
            return result;
        }
        result.bytes.resize(capacity);
        used += std::fread(result.bytes.data() + used, 1, capacity - used, file.get());
        if (used < capacity)
            break;
        capacity *= 2;
    }
    if (std::ferror(file.get())) {
        result.status = ReadStatus::Failed;
        result.reason = systemReason(errno);
        result.bytes.clear();
        return result;
    }
    result.bytes.resize(used);
    result.status = ReadStatus::Complete;
    return result;
}

FileSnapshot snapshotFile(const std::string& path)
{
    const FileBytes file = readFileBytes(path);
    switch (file.status) {
    case ReadStatus::NoFile:
        return {};
    case ReadStatus::Failed:
        return {FileSnapshot::State::Unreadable, 0, 0};
    case ReadStatus::Complete:
        break;
    }
    return FileSnapshot::of(file.bytes);
}

ReadReport readHostsFile(const std::string& path, HostCollection& hosts, std::string& header,
                         const DuplicateNotice& notice)
{
    FileBytes file = readFileBytes(path);
    ReadReport report;
    report.status = file.status;
    report.reason = std::move(file.reason);
    switch (file.status) {
    case ReadStatus::NoFile:
        return report;
    case ReadStatus::Failed:
        report.snapshot.state = FileSnapshot::State::Unreadable;
        return report;
    case ReadStatus::Complete:
        break;
    }
    report.snapshot = FileSnapshot::of(file.bytes);
    report.stats = parseHosts(file.bytes, hosts, header, notice);
    return report;
}
