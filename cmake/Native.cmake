# The native build: the portable core against the simulated platform, the simulator and tests.
add_compile_options(-Wall -Wextra)

# The art is generated natively too: the core and the fake take the icons' names from it, and
# its tests read it back.
include(${CMAKE_SOURCE_DIR}/cmake/Art.cmake)
set(QORVALIN_ART_DIR ${CMAKE_BINARY_DIR}/art)
qorvalin_art(${QORVALIN_ART_DIR} QORVALIN_ART_FILES)

add_library(qorvalin_core STATIC ${QORVALIN_CORE_SOURCES})
target_include_directories(qorvalin_core PUBLIC
    ${CMAKE_SOURCE_DIR} ${QORVALIN_GENERATED} ${QORVALIN_ART_DIR})
add_dependencies(qorvalin_core qorvalin_catalogue qorvalin_art_files)

# The fake platform, which the core calls; it knows nothing of the core.
add_library(qorvalin_fake STATIC ${QORVALIN_FAKE_SOURCES})
target_include_directories(qorvalin_fake PUBLIC
    ${CMAKE_SOURCE_DIR} ${QORVALIN_GENERATED} ${QORVALIN_ART_DIR})
add_dependencies(qorvalin_fake qorvalin_catalogue qorvalin_art_files)
target_link_libraries(qorvalin_core PUBLIC qorvalin_fake)

# The simulator's scenario reader and report writer, on top of the core and the fake.
add_library(qorvalin_sim STATIC ${QORVALIN_SIMULATOR_SOURCES})
find_package(nlohmann_json 3 REQUIRED)
target_link_libraries(qorvalin_sim PUBLIC qorvalin_core nlohmann_json::nlohmann_json)

# QVDUMP's recorder, against the fake like the core.
add_library(qorvalin_dump STATIC ${QORVALIN_DUMP_SOURCES})
target_link_libraries(qorvalin_dump PUBLIC qorvalin_core)

add_library(qorvalin_test_support STATIC ${QORVALIN_TEST_SUPPORT_SOURCES})
target_link_libraries(qorvalin_test_support PUBLIC qorvalin_sim qorvalin_dump)

# AddressSanitizer and UndefinedBehaviorSanitizer reach everything linked with the core and the
# simulator (the simulator program and the tests); any finding ends the program.
option(QORVALIN_SANITIZE "Build the core, the simulator and their tests with ASan and UBSan" OFF)
if(QORVALIN_SANITIZE)
    set(QORVALIN_SANITIZER_FLAGS
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    foreach(target qorvalin_core qorvalin_fake qorvalin_sim qorvalin_dump)
        target_compile_options(${target} PUBLIC ${QORVALIN_SANITIZER_FLAGS})
        target_link_options(${target} PUBLIC ${QORVALIN_SANITIZER_FLAGS})
    endforeach()
endif()

add_executable(qorvalin-sim ${CMAKE_SOURCE_DIR}/sim/main.cpp)
target_link_libraries(qorvalin-sim PRIVATE qorvalin_sim)

enable_testing()
include(${CMAKE_SOURCE_DIR}/cmake/TestTools.cmake)
add_subdirectory(tests)
add_subdirectory(tools/bench)
