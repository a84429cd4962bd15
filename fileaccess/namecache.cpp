// SPDX-License-Identifier: GPL-3.0-or-later
#include "namecache.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fileaccess {
namespace {
int flushRequests = 0;
}

bool flushNameCache()
{
    ++flushRequests;
#ifdef _WIN32
    // dnsapi.dll is loaded only here: most runs never save.
    const HMODULE dnsapi = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dnsapi)
        return false;
    using FlushFunction = BOOL(WINAPI*)();
    const auto flush = reinterpret_cast<FlushFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(dnsapi, "DnsFlushResolverCache")));
    const bool flushed = flush && flush();
    FreeLibrary(dnsapi);
    return flushed;
#else
    return false;
#endif
}

namespace testing {
int nameCacheFlushRequests()
{
    return flushRequests;
}
} // namespace testing

} // namespace fileaccess
