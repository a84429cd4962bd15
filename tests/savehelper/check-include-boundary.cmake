# SPDX-License-Identifier: GPL-3.0-or-later
# Compiles one-line sources with the include path of the save helper, the
# program that runs as root: the request and file headers must compile, and
# no window or Qt header may be reachable, so that none can be used there.
#   cmake -DCOMPILER=... -DINCLUDES=dir|dir|... -DWORK=dir -P check-include-boundary.cmake
string(REPLACE "|" ";" include_directories "${INCLUDES}")
set(flags -std=c++20 -fsyntax-only)
foreach(directory IN LISTS include_directories)
    list(APPEND flags "-I${directory}")
endforeach()
file(MAKE_DIRECTORY "${WORK}")

function(compile header outcome)
    string(MAKE_C_IDENTIFIER "${header}" name)
    set(source "${WORK}/${name}.cpp")
    file(WRITE "${source}" "#include ${header}\n")
    execute_process(COMMAND "${COMPILER}" ${flags} "${source}" RESULT_VARIABLE result ERROR_VARIABLE errors
        OUTPUT_QUIET)
    if(outcome STREQUAL "reachable" AND NOT result EQUAL 0)
        message(FATAL_ERROR "${header} should compile with the helper's include path:\n${errors}")
    endif()
    if(outcome STREQUAL "unreachable")
        if(result EQUAL 0)
            message(FATAL_ERROR "${header} is reachable from the helper's include path")
        endif()
        # Refused for the right reason: the header is not there, not a typo.
        if(NOT errors MATCHES "No such file or directory")
            message(FATAL_ERROR "${header} failed for another reason than being out of reach:\n${errors}")
        endif()
    endif()
    message(STATUS "${header}: ${outcome}")
endfunction()

compile("\"saverequest.h\"" reachable)
compile("\"filesave.h\"" reachable)
compile("<QtCore>" unreachable)
compile("<QObject>" unreachable)
compile("\"administratorsave.h\"" unreachable)
compile("\"hostsfilesave.h\"" unreachable)
# Previous versions are kept per user; the helper runs as root.
compile("\"previousversions.h\"" unreachable)
compile("\"messagebox.h\"" unreachable)
compile("\"ending.h\"" unreachable)
compile("\"frmmain.h\"" unreachable)
compile("\"frmeditentry.h\"" unreachable)
