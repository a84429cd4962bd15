// SPDX-License-Identifier: GPL-3.0-or-later
#include "keptfiles.h"

#include <random>
#include <string_view>

namespace previousversions::keptfiles {

std::filesystem::path UserFolder::path() const
{
    std::filesystem::path path = start;
    for (const std::filesystem::path& part : below)
        path /= part;
    return path;
}

std::string quoted(const std::filesystem::path& path)
{
    // Piece by piece: GCC 12 warns falsely (-Wrestrict) on "\"" + string.
    std::string text = "\"";
    text += shown(path);
    text += '"';
    return text;
}

std::string randomName(const std::string& prefix)
{
    constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string name = prefix;
    for (int i = 0; i < 6; ++i)
        name += kAlphabet[pick(generator)];
    return name;
}

} // namespace previousversions::keptfiles
