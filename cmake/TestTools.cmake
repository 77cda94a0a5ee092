include_guard(GLOBAL)
# Test-only Windows programs (window reader, stand-in libraries and drivers), built with the
# MinGW-w64 -win32 compilers for either architecture; the product build never sees them.
find_program(QORVALIN_TEST_CC_i686 NAMES i686-w64-mingw32-gcc-win32 i686-w64-mingw32-gcc)
find_program(QORVALIN_TEST_CC_x86_64 NAMES x86_64-w64-mingw32-gcc-win32 x86_64-w64-mingw32-gcc)
find_path(QORVALIN_MINGW_DDK ntddk.h
          PATHS /usr/share/mingw-w64/include/ddk /usr/x86_64-w64-mingw32/include/ddk
                /usr/i686-w64-mingw32/include/ddk)

# qorvalin_test_program(TARGET ARCH OUTPUT SOURCE [FLAGS flag...] [LIBS lib...]): builds SOURCE
# with the ARCH (i686 or x86_64) compiler into OUTPUT, with the target TARGET that builds it by
# default, FLAGS after the common warnings and LIBS after the source. Sets TARGET_BUILT in the
# caller to whether it could.
function(qorvalin_test_program target arch output source)
    cmake_parse_arguments(PARSE_ARGV 4 arg "" "" "FLAGS;LIBS")
    set(compiler ${QORVALIN_TEST_CC_${arch}})
    if(NOT compiler)
        message(STATUS "No MinGW-w64 ${arch} compiler: ${target} is not built")
        set(${target}_BUILT FALSE PARENT_SCOPE)
        return()
    endif()
    get_filename_component(folder ${output} DIRECTORY)
    get_filename_component(name ${output} NAME)
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${compiler} -O2 -s -Wall -Wextra -Werror ${arg_FLAGS} -o ${output} ${source} ${arg_LIBS}
        DEPENDS ${source}
        COMMENT "Building the test program ${name} (${arch})")
    add_custom_target(${target} ALL DEPENDS ${output})
    set(${target}_BUILT TRUE PARENT_SCOPE)
endfunction()
