# What the tests under Wine share: the window reader, the Python harness as a module, and the
# registration of their test scripts.

# The window reader runs inside Wine next to the program, so it is a Windows program too: x86_64
# for the tests under wine64, i686 for those under 32-bit Wine, here and in the test guest. Its
# window lines come from windump.c, which the ReactOS guest's driver shares: the arguments of
# qorvalin_test_program that build it in.
set(QORVALIN_WINDUMP SOURCES ${CMAKE_CURRENT_LIST_DIR}/windump.c
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windump.h)
set(QORVALIN_WINSPY ${CMAKE_CURRENT_BINARY_DIR}/support/winspy.exe)
set(QORVALIN_WINSPY_I686 ${CMAKE_CURRENT_BINARY_DIR}/support/i686/winspy.exe)
qorvalin_test_program(qorvalin_winspy x86_64 ${QORVALIN_WINSPY}
                      ${CMAKE_CURRENT_LIST_DIR}/winspy.c ${QORVALIN_WINDUMP})
qorvalin_test_program(qorvalin_winspy_i686 i686 ${QORVALIN_WINSPY_I686}
                      ${CMAKE_CURRENT_LIST_DIR}/winspy.c ${QORVALIN_WINDUMP})

# Every Python test imports the harness (wine.py) and its neighbours from this folder.
set(QORVALIN_PYTHON_ENVIRONMENT PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=${CMAKE_SOURCE_DIR})
set(QORVALIN_WINE_HARNESS ${CMAKE_SOURCE_DIR}/harness/wine.py)

# The tests under Wine run each build of the program: the x86_64 one under wine64, and the i686
# one, the product for Windows 95 to 2000, under 32-bit Wine, where this machine runs 32-bit
# programs (elsewhere those tests report themselves skipped, with the reason). Each build has
# its own Wine session (display, prefix, window reader) in its own folder, made by its fixture
# and taken by one test at a time; the two sessions go on beside each other.
# QORVALIN_E2E_<ARCH>: the test name's part after "e2e.", the session's folder, fixture and lock.
set(QORVALIN_E2E_x86_64 "" e2e wine_session)
set(QORVALIN_E2E_i686 i686. e2e/i686 wine_session_i686)

# qorvalin_wine_environment(ARCH VARIABLE): sets VARIABLE to the environment of the tests of
# the build for ARCH.
function(qorvalin_wine_environment arch variable)
    list(GET QORVALIN_E2E_${arch} 1 folder)
    set(environment ${QORVALIN_PYTHON_ENVIRONMENT}
        QORVALIN_E2E_DIR=${CMAKE_BINARY_DIR}/tests/${folder} QORVALIN_E2E_ARCH=${arch})
    if(arch STREQUAL i686)
        list(APPEND environment QORVALIN_WIN32_EXE=${QORVALIN_WIN32_EXE}
             QORVALIN_WINSPY=${QORVALIN_WINSPY_I686})
    else()
        list(APPEND environment QORVALIN_WIN64_EXE=${QORVALIN_WIN64_EXE}
             QORVALIN_WINSPY=${QORVALIN_WINSPY})
    endif()
    if(TARGET qorvalin-sim)
        list(APPEND environment QORVALIN_SIM=$<TARGET_FILE:qorvalin-sim>)
    endif()
    set(${variable} ${environment} PARENT_SCOPE)
endfunction()

# qorvalin_wine_sessions(): the fixtures e2e.session.start and stop (x86_64) and
# e2e.i686.session.start and stop: one X display and one Wine prefix for each build's tests, as
# making a prefix takes 10 to 60 s.
function(qorvalin_wine_sessions)
    foreach(arch x86_64 i686)
        list(GET QORVALIN_E2E_${arch} 0 part)
        list(GET QORVALIN_E2E_${arch} 2 fixture)
        qorvalin_wine_environment(${arch} environment)
        add_test(NAME e2e.${part}session.start
                 COMMAND ${Python3_EXECUTABLE} ${QORVALIN_WINE_HARNESS} session-start)
        add_test(NAME e2e.${part}session.stop
                 COMMAND ${Python3_EXECUTABLE} ${QORVALIN_WINE_HARNESS} session-stop)
        set_tests_properties(e2e.${part}session.start PROPERTIES FIXTURES_SETUP ${fixture}
                             TIMEOUT 400)
        set_tests_properties(e2e.${part}session.stop PROPERTIES FIXTURES_CLEANUP ${fixture}
                             TIMEOUT 120)
        set_tests_properties(e2e.${part}session.start e2e.${part}session.stop PROPERTIES
            ENVIRONMENT "${environment}" SKIP_RETURN_CODE 77 RESOURCE_LOCK ${fixture}
            LABELS e2e)
    endforeach()
endfunction()

# qorvalin_wine_script_tests(SCRIPT GROUP [X86_64 VAR=VALUE...] [I686 VAR=VALUE...]): every case
# a test_*.py script lists becomes the test e2e.GROUP.CASE of the x86_64 program and the test
# e2e.i686.GROUP.CASE of the i686 one, each with the environment given for its build besides
# the common one, run one at a time in that build's Wine session.
function(qorvalin_wine_script_tests script group)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "X86_64;I686")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script})
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env ${QORVALIN_PYTHON_ENVIRONMENT}
                ${Python3_EXECUTABLE} ${script} --list
        OUTPUT_VARIABLE cases OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE listed)
    if(NOT listed EQUAL 0)
        message(FATAL_ERROR "${script} could not list its cases")
    endif()
    foreach(arch x86_64 i686)
        list(GET QORVALIN_E2E_${arch} 0 part)
        list(GET QORVALIN_E2E_${arch} 2 fixture)
        string(TOUPPER ${arch} upper)
        qorvalin_wine_environment(${arch} environment)
        foreach(case ${cases})
            set(name e2e.${part}${group}.${case})
            add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} ${script} ${case})
            set_tests_properties(${name} PROPERTIES
                ENVIRONMENT "${environment};${arg_${upper}}"
                FIXTURES_REQUIRED ${fixture}
                RESOURCE_LOCK ${fixture}
                SKIP_RETURN_CODE 77
                TIMEOUT 180
                LABELS e2e)
        endforeach()
    endforeach()
endfunction()
