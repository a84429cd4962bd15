// SPDX-License-Identifier: GPL-3.0-or-later
#include "namecache.h"

#ifdef _WIN32
#include "systemlibrary_windows.h"
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
    using Flush = BOOL WINAPI();
    Flush* const flush = systemFunction<Flush>(L"dnsapi.dll", "DnsFlushResolverCache");
    return flush && flush();
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
