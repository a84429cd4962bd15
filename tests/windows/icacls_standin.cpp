// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for icacls.exe while the installer runs under wine, whose own
// icacls changes nothing: appends its command line to C:\icacls.log, with
// whether tessaly.exe was already in the folder it was given (it must not
// be: the folder is locked down before any file is put there).
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    std::FILE* log = _wfopen(L"C:\\icacls.log", L"a");
    if (!log)
        return 1;
    std::wstring line;
    for (int i = 1; i < argc; ++i)
        line += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
    const bool installed = argc > 1
        && GetFileAttributesW((std::wstring(argv[1]) + L"\\tessaly.exe").c_str()) != INVALID_FILE_ATTRIBUTES;
    std::fwprintf(log, L"%ls | program present: %ls\n", line.c_str(), installed ? L"yes" : L"no");
    std::fclose(log);
    return 0;
}
