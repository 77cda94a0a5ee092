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
    qorvalin_harness_file(${target} ${output})
    set(${target}_BUILT TRUE PARENT_SCOPE)
endfunction()

# qorvalin_harness_file(NAME PATH): the Python harness finds PATH as NAME (harness/build.py);
# tests/CMakeLists.txt writes every such name into the build's harness.json.
function(qorvalin_harness_file name path)
    set_property(GLOBAL APPEND PROPERTY QORVALIN_HARNESS_FILES "\"${name}\": \"${path}\"")
endfunction()

# qorvalin_pytest(NAME FILE... [ARGS arg...] [PROPERTIES property value...]): the test NAME runs
# the pytest files FILE (or FILE::case) with the arguments ARGS; it is skipped, with pytest's
# reasons in its output, when every case was.
function(qorvalin_pytest name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "ARGS;PROPERTIES")
    add_test(NAME ${name}
             COMMAND ${Python3_EXECUTABLE} -m pytest -c ${CMAKE_SOURCE_DIR}/pytest.ini
                     --rootdir ${CMAKE_SOURCE_DIR} ${arg_UNPARSED_ARGUMENTS} ${arg_ARGS}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;QORVALIN_BUILD=${CMAKE_BINARY_DIR}"
        SKIP_RETURN_CODE 77 ${arg_PROPERTIES})
endfunction()
