// SPDX-License-Identifier: GPL-3.0-or-later
#include "saverequest.h"

#include <algorithm>

namespace savehelper {
namespace {

void appendLittleEndian(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t littleEndianAt(std::string_view bytes, std::size_t at, int length)
{
    std::uint64_t value = 0;
    for (int i = length - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// Reads exactly `size` bytes; false at an early end or an error.
bool readExactly(const std::function<long long(char*, std::size_t)>& read, char* buffer, std::size_t size)
{
    while (size > 0) {
        const long long got = read(buffer, size);
        if (got <= 0)
            return false;
        buffer += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace

std::string encodeHeader(const FileSnapshot& expected, std::uint64_t contentLength)
{
    std::string header(kMagic);
    appendLittleEndian(header, kVersion, 4);
    appendLittleEndian(header, expected.state == FileSnapshot::State::Present ? 1 : 0, 4);
    appendLittleEndian(header, expected.size, 8);
    appendLittleEndian(header, expected.digest, 8);
    appendLittleEndian(header, contentLength, 8);
    return header;
}

std::string answerLine(const fileaccess::SaveOutcome& outcome)
{
    if (!outcome.saved)
        return std::string(kErrorPrefix) + outcome.reason;
    if (!outcome.confirmedOnDisk)
        return std::string(kUnconfirmedPrefix) + outcome.reason;
    return std::string(kSavedLine);
}

std::uint32_t helperExitFor(const fileaccess::SaveOutcome& outcome)
{
    using fileaccess::SaveFailure;
    if (outcome.saved)
        return exitCode(HelperExit::Saved);
    switch (outcome.failure) {
    case SaveFailure::NotRegular:
        return exitCode(HelperExit::NotRegular);
    case SaveFailure::ReadOnly:
        return exitCode(HelperExit::ReadOnly);
    case SaveFailure::NotVerified:
        return exitCode(HelperExit::NotVerified);
    case SaveFailure::None:
    case SaveFailure::System:
        break;
    }
    return exitCode(HelperExit::WriteFailed) + (outcome.systemError & 0xFFFF);
}

std::string readRequest(const std::function<long long(char*, std::size_t)>& read, Request& request)
{
    std::string header(kHeaderBytes, '\0');
    if (!readExactly(read, header.data(), header.size()))
        return "The request is truncated.";
    if (std::string_view(header).substr(0, kMagic.size()) != kMagic)
        return "The input is not a save request.";
    if (const std::uint64_t version = littleEndianAt(header, 8, 4); version != kVersion)
        return "The request has protocol version " + std::to_string(version) + "; this helper speaks version "
            + std::to_string(kVersion) + ".";
    const std::uint64_t state = littleEndianAt(header, 12, 4);
    if (state > 1)
        return "The request names no known state of the file.";
    request.expected = {state == 1 ? FileSnapshot::State::Present : FileSnapshot::State::Missing,
                        littleEndianAt(header, 16, 8), littleEndianAt(header, 24, 8)};
    if (request.expected.state == FileSnapshot::State::Missing && (request.expected.size || request.expected.digest))
        return "The request describes a missing file with a size.";
    const std::uint64_t length = littleEndianAt(header, 32, 8);
    if (length > kMaxContentBytes)
        return "The new content is larger than 256 MiB.";

    // Grown as the content arrives, so that a request that only announces a
    // large content costs no memory.
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    request.content.clear();
    while (request.content.size() < length) {
        const std::size_t piece = std::min<std::size_t>(kPiece,
                                                        static_cast<std::size_t>(length) - request.content.size());
        const std::size_t at = request.content.size();
        request.content.resize(at + piece);
        if (!readExactly(read, request.content.data() + at, piece))
            return "The request is shorter than its stated length.";
    }
    char extra = 0;
    if (read(&extra, 1) != 0)
        return "The request is longer than its stated length.";
    return {};
}

} // namespace savehelper
