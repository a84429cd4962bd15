# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the header that gives the editor the SHA-256 of the save helper it
# was built with; it refuses to start any other.
#   cmake -DHELPER=tessaly-save-helper.exe -DOUTPUT=helperdigest.h -P helperdigest.cmake
file(SHA256 "${HELPER}" digest)
set(content "// Generated at build time from the save helper program; do not edit.
#pragma once

namespace savehelper {
inline constexpr char kSaveHelperSha256[] = \"${digest}\";
}
")
file(WRITE "${OUTPUT}" "${content}")
