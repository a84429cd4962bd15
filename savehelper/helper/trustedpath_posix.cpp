// SPDX-License-Identifier: GPL-3.0-or-later
#include "trustedpath_posix.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace savehelper {
namespace {

constexpr int kMaxLinks = 40;

struct Component {
    std::string name;
    bool fromLink; // named by a link's target rather than by the path itself
};

void appendComponents(std::deque<Component>& to, std::string_view path, bool fromLink, bool atFront)
{
    std::vector<Component> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty() && part != ".")
            parts.push_back({std::string(part), fromLink});
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    if (atFront)
        to.insert(to.begin(), parts.begin(), parts.end());
    else
        to.insert(to.end(), parts.begin(), parts.end());
}

std::string parentOf(const std::string& directory)
{
    const std::size_t slash = directory.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : directory.substr(0, slash);
}

std::string join(const std::string& directory, const std::string& name)
{
    return directory == "/" ? "/" + name : directory + "/" + name;
}

// Who besides root an access list lets write: the raw form of
// system.posix_acl_access, the kernel's interface (linux/posix_acl_xattr.h).
// Read by hand: the helper links nothing it can do without, and libacl's
// text form would have to be parsed again.
std::string aclWriter(const std::string& path, gid_t group)
{
#ifdef __linux__
    std::vector<unsigned char> value(1024);
    ssize_t size = ::getxattr(path.c_str(), "system.posix_acl_access", value.data(), value.size());
    if (size < 0 && errno == ERANGE) {
        size = ::getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0);
        if (size >= 0) {
            value.resize(static_cast<std::size_t>(size));
            size = ::getxattr(path.c_str(), "system.posix_acl_access", value.data(), value.size());
        }
    }
    if (size < 0)
        return errno == ENODATA || errno == ENOTSUP ? std::string() : "an access list that cannot be read";
    constexpr std::size_t kHeader = 4;
    constexpr std::size_t kEntry = 8;
    constexpr std::uint16_t kUser = 0x02, kGroupOwner = 0x04, kGroup = 0x08;
    constexpr std::uint16_t kWrite = 0x02;
    auto at16 = [&](std::size_t offset) {
        return static_cast<std::uint16_t>(value[offset] | (value[offset + 1] << 8));
    };
    auto at32 = [&](std::size_t offset) {
        return static_cast<std::uint32_t>(value[offset]) | (static_cast<std::uint32_t>(value[offset + 1]) << 8)
            | (static_cast<std::uint32_t>(value[offset + 2]) << 16)
            | (static_cast<std::uint32_t>(value[offset + 3]) << 24);
    };
    for (std::size_t entry = kHeader; entry + kEntry <= static_cast<std::size_t>(size); entry += kEntry) {
        const std::uint16_t tag = at16(entry);
        if (!(at16(entry + 2) & kWrite))
            continue;
        const std::uint32_t id = at32(entry + 4);
        if (tag == kUser && id != 0)
            return "an access-list entry that lets user " + std::to_string(id) + " write it";
        if (tag == kGroup && id != 0)
            return "an access-list entry that lets group " + std::to_string(id) + " write it";
        if (tag == kGroupOwner && group != 0)
            return "an access-list entry that lets its group " + std::to_string(group) + " write it";
    }
#else
    (void)path;
    (void)group;
#endif
    return {};
}

// NFSv4 access lists grant and deny by rules this helper does not judge: a
// folder or file that carries one is refused rather than trusted.
std::string nfs4AccessList(const std::string& path)
{
#ifdef __linux__
    if (::getxattr(path.c_str(), "system.nfs4_acl", nullptr, 0) >= 0)
        return "an NFSv4 access list (whose rules the save helper does not judge)";
    if (errno != ENODATA && errno != ENOTSUP && errno != EOPNOTSUPP)
        return "an access list that cannot be read";
#else
    (void)path;
#endif
    return {};
}

// Why a folder on the way is not to be trusted, or empty.
std::string folderProblem(const std::string& path, const struct stat& status)
{
    if (status.st_uid != 0)
        return "is owned by user " + std::to_string(status.st_uid) + ", not root";
    if (status.st_mode & S_IWOTH)
        return "can be written by every user";
    if ((status.st_mode & S_IWGRP) && status.st_gid != 0)
        return "can be written by group " + std::to_string(status.st_gid);
    if (const std::string writer = aclWriter(path, status.st_gid); !writer.empty())
        return "has " + writer;
    if (const std::string list = nfs4AccessList(path); !list.empty())
        return "has " + list;
    return {};
}

std::string refusal(const std::string& what, const std::string& problem)
{
    return "The hosts file is reached through " + what + ", which " + problem
        + ". The save helper writes only through folders and links that only root can change.";
}

} // namespace

std::string whyNotTrusted(const std::string& path)
{
    if (path.empty() || path.front() != '/')
        return "The hosts file's path " + path + " is not absolute.";
    std::deque<Component> pending;
    appendComponents(pending, path, false, false);
    std::string current = "/";
    int links = 0;
    for (bool checkCurrent = true; !pending.empty();) {
        if (checkCurrent) {
            struct stat folder{};
            if (::lstat(current.c_str(), &folder) != 0)
                return "Cannot look at " + current + ": " + std::strerror(errno);
            if (const std::string problem = folderProblem(current, folder); !problem.empty())
                return refusal("the folder " + current, problem);
            checkCurrent = false;
        }
        const Component component = pending.front();
        pending.pop_front();
        if (component.name == "..") {
            current = parentOf(current);
            continue;
        }
        const std::string candidate = join(current, component.name);
        struct stat status{};
        if (::lstat(candidate.c_str(), &status) != 0) {
            const int error = errno;
            if (error == ENOENT && pending.empty()) {
                if (component.fromLink)
                    return "The hosts file is a link to " + candidate
                        + ", which does not exist. The save helper does not create a file through a link.";
                return {}; // a new file in a trusted folder
            }
            return "Cannot look at " + candidate + ": " + std::strerror(error);
        }
        if (S_ISLNK(status.st_mode)) {
            if (status.st_uid != 0)
                return refusal("the link " + candidate,
                               "is owned by user " + std::to_string(status.st_uid) + ", not root");
            if (++links > kMaxLinks)
                return "Cannot follow the link " + candidate + ": " + std::strerror(ELOOP);
            std::vector<char> target(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) + 1);
            const ssize_t length = ::readlink(candidate.c_str(), target.data(), target.size());
            if (length < 0)
                return "Cannot follow the link " + candidate + ": " + std::strerror(errno);
            const std::string_view text(target.data(), static_cast<std::size_t>(length));
            if (!text.empty() && text.front() == '/') {
                current = "/";
                checkCurrent = true;
            }
            appendComponents(pending, text, true, true);
            continue;
        }
        if (pending.empty()) {
            // The file itself, of whatever kind.
            if (const std::string list = nfs4AccessList(candidate); !list.empty())
                return "The hosts file " + candidate + " has " + list + ".";
            return {};
        }
        if (!S_ISDIR(status.st_mode))
            return "Cannot look at " + candidate + "/" + pending.front().name + ": " + std::strerror(ENOTDIR);
        current = candidate;
        checkCurrent = true;
    }
    return {};
}

} // namespace savehelper
