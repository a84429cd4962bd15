// SPDX-License-Identifier: GPL-3.0-or-later
#include "sha256_windows.h"

#include "systemlibrary_windows.h"

#include <bcrypt.h>

#include <memory>

namespace savehelper {
namespace {

// bcrypt.dll is not one of the DLLs Windows always takes from its own
// folder, so the helper does not import it: it is loaded from there.
struct BCrypt {
    using Open = NTSTATUS WINAPI(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
    using Close = NTSTATUS WINAPI(BCRYPT_ALG_HANDLE, ULONG);
    using Create = NTSTATUS WINAPI(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
    using Data = NTSTATUS WINAPI(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using Finish = NTSTATUS WINAPI(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
    using Destroy = NTSTATUS WINAPI(BCRYPT_HASH_HANDLE);

    Open* open = fileaccess::systemFunction<Open>(L"bcrypt.dll", "BCryptOpenAlgorithmProvider");
    Close* close = fileaccess::systemFunction<Close>(L"bcrypt.dll", "BCryptCloseAlgorithmProvider");
    Create* create = fileaccess::systemFunction<Create>(L"bcrypt.dll", "BCryptCreateHash");
    Data* data = fileaccess::systemFunction<Data>(L"bcrypt.dll", "BCryptHashData");
    Finish* finish = fileaccess::systemFunction<Finish>(L"bcrypt.dll", "BCryptFinishHash");
    Destroy* destroy = fileaccess::systemFunction<Destroy>(L"bcrypt.dll", "BCryptDestroyHash");

    bool complete() const { return open && close && create && data && finish && destroy; }
};

const BCrypt& bcrypt()
{
    static const BCrypt functions;
    return functions;
}

constexpr ULONG kDigestBytes = 32;

} // namespace

Sha256::Sha256()
{
    const BCrypt& api = bcrypt();
    if (!api.complete())
        return;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(api.open(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return;
    algorithm_ = algorithm;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCRYPT_SUCCESS(api.create(algorithm, &hash, nullptr, 0, nullptr, 0, 0)))
        hash_ = hash;
}

Sha256::~Sha256()
{
    if (hash_)
        bcrypt().destroy(hash_);
    if (algorithm_)
        bcrypt().close(algorithm_, 0);
}

void Sha256::feed(std::string_view bytes)
{
    constexpr std::size_t kMaxPiece = 1u << 30;
    while (valid() && !failed_ && !bytes.empty()) {
        const std::string_view piece = bytes.substr(0, kMaxPiece);
        failed_ = !BCRYPT_SUCCESS(bcrypt().data(hash_, reinterpret_cast<PUCHAR>(const_cast<char*>(piece.data())),
                                                static_cast<ULONG>(piece.size()), 0));
        bytes.remove_prefix(piece.size());
    }
}

std::string Sha256::finishHex()
{
    unsigned char digest[kDigestBytes] = {};
    if (!valid() || failed_ || !BCRYPT_SUCCESS(bcrypt().finish(hash_, digest, kDigestBytes, 0)))
        return {};
    failed_ = true; // a hash object cannot be finished twice
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0xF]);
    }
    return hex;
}

std::string sha256OfFile(HANDLE file)
{
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return {};
    Sha256 digest;
    const std::unique_ptr<char[]> buffer(new char[1 << 16]);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.get(), 1 << 16, &got, nullptr))
            return {};
        if (got == 0)
            return digest.finishHex();
        digest.feed({buffer.get(), got});
    }
}

} // namespace savehelper
