# What the tests under Wine share: the window reader, the Python harness as a module, and the
# registration of their test scripts.

# The window reader runs inside Wine next to the program, so it is a Windows program too: x86_64
# for the tests under wine64, i686 for the tests in the virtual machine's 32-bit Wine. Its
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
set(QORVALIN_PYTHON_ENVIRONMENT PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=${CMAKE_CURRENT_LIST_DIR})

# qorvalin_wine_script_tests(SCRIPT GROUP ENVIRONMENT...): every case a test_*.py script lists
# becomes the test e2e.GROUP.CASE, run one at a time in the shared Wine session.
function(qorvalin_wine_script_tests script group)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script})
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env ${QORVALIN_PYTHON_ENVIRONMENT}
                ${Python3_EXECUTABLE} ${script} --list
        OUTPUT_VARIABLE cases OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE listed)
    if(NOT listed EQUAL 0)
        message(FATAL_ERROR "${script} could not list its cases")
    endif()
    foreach(case ${cases})
        add_test(NAME e2e.${group}.${case} COMMAND ${Python3_EXECUTABLE} ${script} ${case})
        set_tests_properties(e2e.${group}.${case} PROPERTIES
            ENVIRONMENT "${QORVALIN_PYTHON_ENVIRONMENT};${ARGN}"
            FIXTURES_REQUIRED wine_session
            RESOURCE_LOCK wine_session
            SKIP_RETURN_CODE 77
            TIMEOUT 180
            LABELS e2e)
    endforeach()
endfunction()
