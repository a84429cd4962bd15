// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace fileaccess {

// Has the system's name resolver forget what it cached, so that a saved
// hosts file takes effect at once. Windows: DnsFlushResolverCache of
// dnsapi.dll, looked up when called (it is not part of the documented API and
// may be missing). Elsewhere resolvers read the file again when it changes,
// and nothing is done. Returns whether a cache was flushed; the save stands
// either way.
bool flushNameCache();

namespace testing {
// How often flushNameCache has been called in this process.
int nameCacheFlushRequests();
} // namespace testing

} // namespace fileaccess
