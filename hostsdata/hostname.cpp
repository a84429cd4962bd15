// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostname.h"

#include <absl/strings/match.h>

#include <algorithm>
#include <random>

namespace hostname_detail {

const std::uint64_t kHashSeed = [] {
    std::random_device random;
    return (std::uint64_t{random()} << 32) ^ random();
}();

} // namespace hostname_detail

bool sameHostname(std::string_view a, std::string_view b)
{
    // Debian's Abseil has its own string_view type.
    return absl::EqualsIgnoreCase(absl::string_view(a.data(), a.size()), absl::string_view(b.data(), b.size()));
}

std::string asciiLower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

bool fitsOnHostsLine(std::string_view host, std::string_view address)
{
    return host.find('#') == std::string_view::npos && address.find('#') == std::string_view::npos;
}
