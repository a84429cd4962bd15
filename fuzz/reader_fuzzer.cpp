// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the hosts file reader. Checks that reading never
// crashes, that the input cut into chunks anywhere reads the same, and that
// reading what the writer made of a reading gives the same header and entries.
#include "hostsparser.h"
#include "hostsformatter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "reader_fuzzer: %s\n", what);
        std::abort();
    }
}

void requireSameEntries(const HostCollection& read, const HostCollection& expected, const char* what)
{
    require(read.size() == expected.size(), what);
    auto other = expected.begin();
    for (const HostEntry& entry : read) {
        require(entry.ip() == other->ip() && entry.host() == other->host() && entry.comment() == other->comment(),
                what);
        ++other;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    HostCollection hosts;
    std::string header;
    int notices = 0;
    const ParseStats stats = parseHosts(bytes, hosts, header, [&](std::string_view host) {
        require(hosts.contains(host), "a notice for a hostname that is not present");
        return ++notices == 3 ? NoticeAnswer::Silence : NoticeAnswer::KeepNoticing;
    });
    require(stats.entries == hosts.size(), "entry count differs from the collection");

    // Two cut points taken from the input itself.
    const std::size_t first = size ? data[0] % (size + 1) : 0;
    const std::size_t second = first + (size > 1 ? data[size - 1] % (size - first + 1) : 0);
    HostsParser parser;
    parser.feed(bytes.substr(0, first));
    parser.feed(bytes.substr(first, second - first));
    parser.feed(bytes.substr(second));
    HostCollection chunked;
    std::string chunkedHeader;
    const ParseStats chunkedStats = parser.finish(chunked, chunkedHeader);
    require(chunkedHeader == header && chunkedStats.duplicates == stats.duplicates, "chunks read differently");
    requireSameEntries(chunked, hosts, "chunks read differently");

    const std::string written = formatHostsFile(header, hosts);
    HostCollection back;
    std::string backHeader;
    parseHosts(written, back, backHeader);
    require(backHeader == header, "header changed by writing and reading");
    requireSameEntries(back, hosts, "entry changed by writing and reading");
    return 0;
}
