# The source files of each part, listed once for the product, the native build and the fuzzer.
get_filename_component(QORVALIN_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

# The portable core: the probes, the report sinks and the verdict.
set(QORVALIN_CORE_SOURCES
    ${QORVALIN_ROOT}/probes/chipset.cpp
    ${QORVALIN_ROOT}/probes/hexparse.cpp
    ${QORVALIN_ROOT}/probes/hostctl.cpp
    ${QORVALIN_ROOT}/probes/os.cpp
    ${QORVALIN_ROOT}/probes/queries.cpp
    ${QORVALIN_ROOT}/probes/vendors.cpp
    ${QORVALIN_ROOT}/report/sinks.cpp
    ${QORVALIN_ROOT}/verdict/animation.cpp
    ${QORVALIN_ROOT}/verdict/verdict.cpp)

# QVDUMP.EXE's recorder, portable like the core whose queries it asks.
set(QORVALIN_DUMP_SOURCES
    ${QORVALIN_ROOT}/dump/record.cpp)

# The Windows platform: the system's side (runtime, ports, registry, devices, libraries) and the
# main dialog's side.
set(QORVALIN_WIN32_SYSTEM_SOURCES
    ${QORVALIN_ROOT}/platform/win32/crt.cpp
    ${QORVALIN_ROOT}/platform/win32/ports.cpp
    ${QORVALIN_ROOT}/platform/win32/system.cpp)

# Qorvalin's Windows front end and the Windows platform.
set(QORVALIN_APP_SOURCES
    ${QORVALIN_ROOT}/app/dialogs.cpp
    ${QORVALIN_ROOT}/app/layout.cpp
    ${QORVALIN_ROOT}/app/main.cpp
    ${QORVALIN_WIN32_SYSTEM_SOURCES}
    ${QORVALIN_ROOT}/platform/win32/ui.cpp)

# QVDUMP.EXE: the probes' queries, the recorder, its Windows front end and the system's side of
# the Windows platform.
set(QORVALIN_QVDUMP_SOURCES
    ${QORVALIN_ROOT}/probes/queries.cpp
    ${QORVALIN_DUMP_SOURCES}
    ${QORVALIN_ROOT}/app/qvdump.cpp
    ${QORVALIN_WIN32_SYSTEM_SOURCES})

# The fake platform and its machine builders.
set(QORVALIN_FAKE_SOURCES
    ${QORVALIN_ROOT}/platform/sim/catalogue.cpp
    ${QORVALIN_ROOT}/platform/sim/sim.cpp)

# The simulator's scenario reader and report writer (its main is sim/main.cpp).
set(QORVALIN_SIMULATOR_SOURCES
    ${QORVALIN_ROOT}/sim/report_out.cpp
    ${QORVALIN_ROOT}/sim/scenario.cpp)

# What the tests, the fuzzer and the benchmarks share: the fixture, the machines, the invariants.
set(QORVALIN_TEST_SUPPORT_SOURCES
    ${QORVALIN_ROOT}/tests/support/fake.cpp
    ${QORVALIN_ROOT}/tests/support/invariants.cpp
    ${QORVALIN_ROOT}/tests/support/machines.cpp
    ${QORVALIN_ROOT}/tests/support/verdict_rules.cpp)
