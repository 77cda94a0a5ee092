include_guard(GLOBAL)
# Test-only Windows programs (window reader, stand-in libraries and drivers, benchmark programs),
# built with the MinGW-w64 -win32 tools for either architecture; the product build never sees
# them. The one place outside the toolchain files that looks the tools up.
foreach(arch i686 x86_64)
    find_program(QORVALIN_TEST_CC_${arch} ${arch}-w64-mingw32-gcc-win32)
    foreach(tool windres objdump nm)
        string(TOUPPER ${tool} variable)
        find_program(QORVALIN_${variable}_${arch} ${arch}-w64-mingw32-${tool})
    endforeach()
endforeach()
find_path(QORVALIN_MINGW_DDK ntddk.h
          PATHS /usr/share/mingw-w64/include/ddk /usr/x86_64-w64-mingw32/include/ddk
                /usr/i686-w64-mingw32/include/ddk)

# qorvalin_test_program(TARGET ARCH OUTPUT SOURCE [SOURCES source...] [FLAGS flag...]
#                       [LIBS lib...] [RC script] [RC_FLAGS flag...] [DEPENDS file-or-target...]):
# builds SOURCE and SOURCES with the ARCH (i686 or x86_64) compiler into OUTPUT, with the target
# TARGET that builds it by default, FLAGS after the common warnings, the resource script RC
# compiled with RC_FLAGS and linked in, LIBS last. Sets TARGET_BUILT in the caller to whether it
# could. No link time goes into the file, so that the same sources give the same bytes (the
# ReactOS guest's saved state holds its driver).
function(qorvalin_test_program target arch output source)
    cmake_parse_arguments(PARSE_ARGV 4 arg "" "RC" "SOURCES;FLAGS;LIBS;RC_FLAGS;DEPENDS")
    set(compiler ${QORVALIN_TEST_CC_${arch}})
    set(windres ${QORVALIN_WINDRES_${arch}})
    if(NOT compiler OR (arg_RC AND NOT windres))
        message(STATUS "No MinGW-w64 ${arch} compiler or resource compiler: ${target} is not built")
        set(${target}_BUILT FALSE PARENT_SCOPE)
        return()
    endif()
    get_filename_component(folder ${output} DIRECTORY)
    get_filename_component(name ${output} NAME)
    set(resources "")
    if(arg_RC)
        set(resources ${output}.res.o)
        add_custom_command(
            OUTPUT ${resources}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
            COMMAND ${windres} ${arg_RC_FLAGS} -O coff -o ${resources} ${arg_RC}
            DEPENDS ${arg_RC} ${arg_DEPENDS}
            COMMENT "Compiling the resources of the test program ${name} (${arch})")
    endif()
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${compiler} -O2 -s -Wall -Wextra -Werror -Wl,--no-insert-timestamp ${arg_FLAGS}
                -o ${output} ${source}
                ${arg_SOURCES} ${resources} ${arg_LIBS}
        DEPENDS ${source} ${arg_SOURCES} ${resources} ${arg_DEPENDS}
        COMMENT "Building the test program ${name} (${arch})")
    add_custom_target(${target} ALL DEPENDS ${output})
    set(${target}_BUILT TRUE PARENT_SCOPE)
endfunction()
