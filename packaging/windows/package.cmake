# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows program as a folder that runs with nothing else installed: the
# executable, the Qt DLLs and plugins it loads, the MinGW runtime. cpack
# makes a portable zip and an NSIS installer of it (scripts/package-windows).
install(TARGETS tessaly tessaly-restore RUNTIME DESTINATION .)
# The save helper beside it, byte for byte as built (linked stripped): the
# editor starts only a helper whose SHA-256 is the one built into it, so the
# install's strip must not touch it.
install(PROGRAMS $<TARGET_FILE:tessaly-save-helper> DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets> ${TESSALY_MINGW_RUNTIME}
    DESTINATION .)
# Qt looks for its plugins in these folders beside the executable.
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
# The DLLs come with their debugging information (libstdc++ is 24 MB with
# it, 2 MB without); a stripped install (cpack's) drops it.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        file(GLOB_RECURSE dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.dll\")
        foreach(dll IN LISTS dlls)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\${dll}\" COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()
")

set(CPACK_PACKAGE_NAME Tessaly)
set(CPACK_PACKAGE_VENDOR "Tessaly")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Editor for the hosts file")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tessaly)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Tessaly)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_EXECUTABLES tessaly Tessaly)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# Tessaly-<version>-win64.zip and Tessaly-<version>-setup.exe
set(CPACK_PACKAGE_FILE_NAME Tessaly-${PROJECT_VERSION}-win64)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-names.cmake)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME Tessaly)
set(CPACK_NSIS_DISPLAY_NAME Tessaly)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/resources/icons/tessaly.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/resources/icons/tessaly.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME tessaly.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# A 64-bit installer for the 64-bit program: it sees the real Program Files
# and registry, not the 32-bit views of them.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# Whatever folder is chosen (outside Program Files a folder keeps its
# parent's permissions, often "Authenticated Users: Modify" at a drive's
# root), only administrators and SYSTEM may change the program's folder, and
# users read and run it, before any file is put there: otherwise any local
# user could replace tessaly.exe, a DLL, the save helper or the uninstaller
# that the next elevated setup runs. The owner becomes Administrators, so
# that whoever made the folder beforehand cannot change its access list
# back. Setup stops when that fails.
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS [=[
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /reset /T /C /Q'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /T /C /Q'
  Pop $1
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /setowner *S-1-5-32-544 /T /C /Q'
  Pop $2
  StrCmp "$0$1$2" "000" +3
    MessageBox MB_ICONSTOP "Setup could not limit who may change $INSTDIR, so it stopped." /SD IDOK
    Abort
]=])
# The commands above hold quotes: written to CPack's configuration as they are.
set(CPACK_VERBATIM_VARIABLES YES)
set(CPACK_GENERATOR ZIP NSIS)
include(CPack)
