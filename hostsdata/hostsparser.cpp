// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostsparser.h"

#include "bytewords.h"
#include "largememory.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

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

// Where the field starting at `from` ends: the first blank, TAB or '#' at
// or after it, or the end. Eight bytes at a time: this runs over every byte
// of the file's entries.
std::size_t fieldEnd(std::string_view line, std::size_t from)
{
    static_assert(std::endian::native == std::endian::little, "the lowest set bit is the first byte");
    const char* const data = line.data();
    for (; from + 8 <= line.size(); from += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + from, 8);
        const std::uint64_t stops = bytewords::bytesEqualTo(word, ' ') | bytewords::bytesEqualTo(word, '\t')
            | bytewords::bytesEqualTo(word, '#');
        if (stops != 0)
            return from + static_cast<std::size_t>(std::countr_zero(stops) >> 3);
    }
    while (from < line.size() && !isSeparator(data[from]) && data[from] != '#')
        ++from;
    return from;
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
    enum class End { None, CrAtEnd, Break };

    explicit LineSplitter(std::string_view bytes) : bytes_(bytes)
    {
        nextCr_ = find('\r', 0);
        nextLf_ = find('\n', 0);
    }

    // The next line and how it ended: not at all (the bytes ran out), at a CR
    // that is the last byte (a LF may follow in the next chunk), or at a break.
    bool next(std::string_view& line, End& ending)
    {
        if (position_ >= bytes_.size())
            return false;
        if (nextCr_ < position_)
            nextCr_ = find('\r', position_);
        if (nextLf_ < position_)
            nextLf_ = find('\n', position_);
        const std::size_t end = std::min(nextCr_, nextLf_);
        line = bytes_.substr(position_, end - position_);
        if (end == bytes_.size()) {
            position_ = end;
            ending = End::None;
        } else if (bytes_[end] == '\r' && end + 1 == bytes_.size()) {
            position_ = end + 1;
            ending = End::CrAtEnd;
        } else {
            position_ = (bytes_[end] == '\r' && bytes_[end + 1] == '\n') ? end + 2 : end + 1;
            ending = End::Break;
        }
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

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

} // namespace

HostsParser::HostsParser(std::size_t expectedBytes)
{
    // A line of a large hosts file is rarely shorter than 16 bytes. Room
    // that stays unused is never touched, so it costs address space only.
    entries_.reserve(expectedBytes / 16);
    hashes_.reserve(expectedBytes / 16);
    largememory::adviseHugePages(entries_.data(), entries_.capacity() * sizeof(HostEntryRef));
    largememory::adviseHugePages(hashes_.data(), hashes_.capacity() * sizeof(std::uint32_t));
}
HostsParser::~HostsParser() = default;

void HostsParser::feed(std::string_view bytes)
{
    while (!byteOrderMarkDone_ && !bytes.empty()) {
        if (bytes.front() == kByteOrderMark[byteOrderMarkMatched_]) {
            bytes.remove_prefix(1);
            byteOrderMarkDone_ = ++byteOrderMarkMatched_ == kByteOrderMark.size();
        } else {
            pending_.append(kByteOrderMark.substr(0, byteOrderMarkMatched_));
            byteOrderMarkDone_ = true;
        }
    }
    if (bytes.empty())
        return;
    if (std::exchange(skipLeadingLf_, false) && bytes.front() == '\n')
        bytes.remove_prefix(1);

    LineSplitter lines(bytes);
    std::string_view line;
    LineSplitter::End ending = LineSplitter::End::None;
    while (lines.next(line, ending)) {
        if (ending == LineSplitter::End::None) {
            pending_.append(line);
            break;
        }
        if (pending_.empty()) {
            takeLine(line);
        } else {
            pending_.append(line);
            takeLine(pending_);
            pending_.clear();
        }
        skipLeadingLf_ = ending == LineSplitter::End::CrAtEnd;
    }
}

void HostsParser::takeLine(std::string_view line)
{
    line = trimSeparators(line);
    if (line.empty())
        return;
    if (line.front() == '#') {
        if (!entryLineSeen_) {
            appendWithTabsAsBlanks(header_, line);
            header_ += "\r\n";
        }
        return;
    }
    entryLineSeen_ = true;

    // One pass: the fields up to a '#', then the comment after it. The
    // entries are made once the comment is known.
    std::string_view address;
    std::string_view comment;
    hostsOnLine_.clear();
    std::size_t position = 0;
    while (position < line.size()) {
        if (line[position] == '#') {
            comment = trimSeparators(line.substr(position + 1));
            break;
        }
        const std::size_t end = fieldEnd(line, position);
        const std::string_view field = line.substr(position, end - position);
        if (address.empty())
            address = field;
        else
            hostsOnLine_.push_back(field);
        position = end;
        while (position < line.size() && isSeparator(line[position]))
            ++position;
    }
    if (comment.find('\t') != std::string_view::npos) {
        commentWithBlanks_.clear();
        appendWithTabsAsBlanks(commentWithBlanks_, comment);
        comment = commentWithBlanks_;
    }
    for (const std::string_view host : hostsOnLine_) {
        entries_.push_back(blocks_.create(address, host, comment));
        hashes_.push_back(hostnameHash(host));
        textBytes_ += address.size() + host.size() + comment.size();
    }
}

ParseStats HostsParser::finish(HostCollection& hosts, std::string& header, const DuplicateNotice& notice)
{
    if (!byteOrderMarkDone_)
        pending_.append(kByteOrderMark.substr(0, byteOrderMarkMatched_));
    byteOrderMarkDone_ = true;
    if (!pending_.empty())
        takeLine(pending_);
    pending_.clear();

    header.append(header_);
    header_.clear();
    const std::size_t read = entries_.size();
    const std::vector<HostEntryRef> duplicates = hosts.addAll(std::move(entries_), std::move(hashes_), textBytes_);
    entries_.clear();
    hashes_.clear();
    textBytes_ = 0;

    bool silenced = !notice;
    for (const HostEntryRef& duplicate : duplicates)
        if (!silenced && notice(duplicate->host()) == NoticeAnswer::Silence)
            silenced = true;
    return {read - duplicates.size(), duplicates.size()};
}

ParseStats parseHosts(std::string_view bytes, HostCollection& hosts, std::string& header, const DuplicateNotice& notice)
{
    HostsParser parser(bytes.size());
    parser.feed(bytes);
    return parser.finish(hosts, header, notice);
}
