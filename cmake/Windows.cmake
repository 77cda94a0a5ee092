# The Windows product, Qorvalin.exe, built into the root of the build directory: the portable
# core, the shell in app/, the Windows platform in platform/win32/ and the resource script.
# It links no C runtime DLL (platform/win32/crt.cpp is the runtime), so that it loads on a
# base Windows 95 install, and on i686 it uses no instruction newer than the 486.
enable_language(RC)

include(${CMAKE_SOURCE_DIR}/cmake/Art.cmake)
set(QORVALIN_ART_DIR ${CMAKE_BINARY_DIR}/art)
qorvalin_art(${QORVALIN_ART_DIR} QORVALIN_ART_FILES)

set(QORVALIN_RC ${CMAKE_SOURCE_DIR}/res/qorvalin.rc)

# The toolchain's default libraries would bring in nothing but clutter: the link names its own.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")

add_executable(qorvalin ${QORVALIN_CORE_SOURCES} ${QORVALIN_APP_SOURCES} ${QORVALIN_RC})
set_target_properties(qorvalin PROPERTIES
    OUTPUT_NAME Qorvalin
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_include_directories(qorvalin PRIVATE
    ${CMAKE_SOURCE_DIR} ${QORVALIN_GENERATED} ${QORVALIN_ART_DIR})
add_dependencies(qorvalin qorvalin_catalogue qorvalin_art_files)
set_source_files_properties(${QORVALIN_RC} PROPERTIES OBJECT_DEPENDS
    "${QORVALIN_ART_FILES};${QORVALIN_GENERATED}/res/strings.rc;${CMAKE_SOURCE_DIR}/app/resource.h;${CMAKE_SOURCE_DIR}/report/controls.h")

target_compile_options(qorvalin PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Os -Wall -Wextra -fno-exceptions -fno-rtti
        -fno-threadsafe-statics -fno-asynchronous-unwind-tables
        -fno-tree-loop-distribute-patterns -ffunction-sections -fno-ident>)
# The runtime's own loops must not be turned back into calls to the functions they implement.
set_source_files_properties(${CMAKE_SOURCE_DIR}/platform/win32/crt.cpp PROPERTIES
    COMPILE_OPTIONS "-fno-builtin;-ffreestanding")

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    target_compile_options(qorvalin PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:-march=i486 -mtune=generic -mno-mmx -mno-sse>)
    set(QORVALIN_ENTRY _WinMainCRTStartup)
    # Windows 95 accepts subsystem versions up to 4.0 only.
    set(QORVALIN_SUBSYSTEM windows:4.0)
else()
    set(QORVALIN_ENTRY WinMainCRTStartup)
    set(QORVALIN_SUBSYSTEM windows)
endif()

target_link_options(qorvalin PRIVATE
    -nostdlib -s
    -Wl,-e,${QORVALIN_ENTRY}
    -Wl,--subsystem,${QORVALIN_SUBSYSTEM}
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--no-insert-timestamp
    -Wl,--disable-dynamicbase -Wl,--disable-nxcompat -Wl,--disable-reloc-section
    -Wl,--gc-sections)
# libgcc last and static: the compiler's helpers (stack probes, 64-bit division).
target_link_libraries(qorvalin PRIVATE kernel32 user32 gdi32 advapi32 gcc)
