# qorvalin_wine_script_tests(SCRIPT GROUP ENVIRONMENT...): every case a test_*.py script lists
# becomes the test e2e.GROUP.CASE, run one at a time in the shared Wine session.
function(qorvalin_wine_script_tests script group)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script})
    execute_process(
        COMMAND ${Python3_EXECUTABLE} -B ${script} --list
        OUTPUT_VARIABLE cases OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE listed)
    if(NOT listed EQUAL 0)
        message(FATAL_ERROR "${script} could not list its cases")
    endif()
    foreach(case ${cases})
        add_test(NAME e2e.${group}.${case} COMMAND ${Python3_EXECUTABLE} -B ${script} ${case})
        set_tests_properties(e2e.${group}.${case} PROPERTIES
            ENVIRONMENT "${ARGN}"
            FIXTURES_REQUIRED wine_session
            RESOURCE_LOCK wine_session
            SKIP_RETURN_CODE 77
            TIMEOUT 180
            LABELS e2e)
    endforeach()
endfunction()
