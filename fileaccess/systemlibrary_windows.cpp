// SPDX-License-Identifier: GPL-3.0-or-later
#include "systemlibrary_windows.h"

#include <bcrypt.h>

namespace fileaccess {

FARPROC systemProcedure(const wchar_t* dll, const char* name)
{
    const HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? GetProcAddress(module, name) : nullptr;
}

bool systemRandom(void* buffer, std::size_t size)
{
    using GenRandom = NTSTATUS WINAPI(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
    static GenRandom* const generate = systemFunction<GenRandom>(L"bcrypt.dll", "BCryptGenRandom");
    return generate
        && BCRYPT_SUCCESS(generate(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                                   BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

} // namespace fileaccess
