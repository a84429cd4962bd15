// libFuzzer target for the hosts file reader. Checks that reading never
// crashes, and that reading what the writer made of a reading gives the same
// header and entries (when no field holds a NUL, which the writer turns into
// a blank).
#include "hostsreader.h"
#include "hostswriter.h"

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

    const std::string written = formatHostsFile(header, hosts);
    HostCollection back;
    std::string backHeader;
    parseHosts(written, back, backHeader);
    if (bytes.find('\0') != std::string_view::npos)
        return 0;
    require(backHeader == header, "header changed by writing and reading");
    require(back.size() == hosts.size(), "entry count changed by writing and reading");
    auto original = hosts.begin();
    for (const HostEntry& entry : back) {
        require(entry.ip() == original->ip() && entry.host() == original->host()
                    && entry.comment() == original->comment(),
                "entry changed by writing and reading");
        ++original;
    }
    return 0;
}
