# SPDX-License-Identifier: GPL-3.0-or-later
# Read by cpack once per generator: the installer is named -setup.exe.
if(CPACK_GENERATOR STREQUAL "NSIS")
    string(REPLACE "-win64" "-setup" CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}")
endif()
