# The Windows programs, built into the root of the build directory: Qorvalin.exe (the portable
# core, its shell in app/, the Windows platform in platform/win32/ and its resource script) and
# qvdump.exe (the recorder, the probes' queries, its shell and the system's side of the
# platform). They link no C runtime DLL (platform/win32/crt.cpp is the runtime), so that they
# load on a base Windows 95 install, and on i686 they use no instruction newer than the 486.
enable_language(RC)

include(${CMAKE_SOURCE_DIR}/cmake/Art.cmake)
set(QORVALIN_ART_DIR ${CMAKE_BINARY_DIR}/art)
qorvalin_art(${QORVALIN_ART_DIR} QORVALIN_ART_FILES)

set(QORVALIN_RC ${CMAKE_SOURCE_DIR}/res/qorvalin.rc)
set(QORVALIN_QVDUMP_RC ${CMAKE_SOURCE_DIR}/res/qvdump.rc)

# The toolchain's default libraries would bring in nothing but clutter: the link names its own.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")

# The runtime's own loops must not be turned back into calls to the functions they implement.
set_source_files_properties(${CMAKE_SOURCE_DIR}/platform/win32/crt.cpp PROPERTIES
    COMPILE_OPTIONS "-fno-builtin;-ffreestanding")

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(QORVALIN_CPU_OPTIONS -march=i486 -mtune=generic -mno-mmx -mno-sse)
    set(QORVALIN_ENTRY _WinMainCRTStartup)
    # Windows 95 accepts subsystem versions up to 4.0 only.
    set(QORVALIN_SUBSYSTEM windows:4.0)
else()
    set(QORVALIN_CPU_OPTIONS)
    set(QORVALIN_ENTRY WinMainCRTStartup)
    set(QORVALIN_SUBSYSTEM windows)
endif()

# qorvalin_windows_program(TARGET NAME RC SOURCES... LIBRARIES...): a program of the sources and
# the resource script, linked with the system libraries named.
function(qorvalin_windows_program target name rc)
    cmake_parse_arguments(PROGRAM "" "" "SOURCES;LIBRARIES;RESOURCE_DEPENDS" ${ARGN})
    add_executable(${target} ${PROGRAM_SOURCES} ${rc})
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME ${name}
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    target_include_directories(${target} PRIVATE
        ${CMAKE_SOURCE_DIR} ${QORVALIN_GENERATED} ${QORVALIN_ART_DIR})
    add_dependencies(${target} qorvalin_catalogue qorvalin_art_files)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${PROGRAM_RESOURCE_DEPENDS}")
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:-Os -Wall -Wextra -fno-exceptions -fno-rtti
            -fno-threadsafe-statics -fno-asynchronous-unwind-tables
            -fno-tree-loop-distribute-patterns -ffunction-sections -fno-ident
            ${QORVALIN_CPU_OPTIONS}>)
    target_link_options(${target} PRIVATE
        -nostdlib -s
        -Wl,-e,${QORVALIN_ENTRY}
        -Wl,--subsystem,${QORVALIN_SUBSYSTEM}
        -Wl,--major-os-version,4 -Wl,--minor-os-version,0
        -Wl,--no-insert-timestamp
        -Wl,--disable-dynamicbase -Wl,--disable-nxcompat -Wl,--disable-reloc-section
        -Wl,--gc-sections)
    # libgcc last and static: the compiler's helpers (stack probes, 64-bit division).
    target_link_libraries(${target} PRIVATE ${PROGRAM_LIBRARIES} gcc)
endfunction()

qorvalin_windows_program(qorvalin Qorvalin ${QORVALIN_RC}
    SOURCES ${QORVALIN_CORE_SOURCES} ${QORVALIN_APP_SOURCES}
    LIBRARIES kernel32 user32 gdi32 advapi32
    RESOURCE_DEPENDS ${QORVALIN_ART_FILES} ${QORVALIN_GENERATED}/res/strings.rc
                     ${CMAKE_SOURCE_DIR}/res/qorvalin.manifest
                     ${CMAKE_SOURCE_DIR}/app/resource.h ${CMAKE_SOURCE_DIR}/report/controls.h)
qorvalin_windows_program(qvdump qvdump ${QORVALIN_QVDUMP_RC}
    SOURCES ${QORVALIN_QVDUMP_SOURCES}
    LIBRARIES kernel32 user32 advapi32 comdlg32
    RESOURCE_DEPENDS ${QORVALIN_ART_FILES} ${QORVALIN_GENERATED}/res/qvdump_strings.rc
                     ${CMAKE_SOURCE_DIR}/res/qorvalin.manifest)
