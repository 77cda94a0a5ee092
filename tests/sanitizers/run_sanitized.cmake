# Runs the sanitized tree's unit tests, fault sweep and golden scenarios, and nothing else: the
# Wine, QEMU, fuzzing and Windows build checks belong to the main build.
set(ENV{ASAN_OPTIONS} "halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1")
set(ENV{UBSAN_OPTIONS} "halt_on_error=1:print_stacktrace=1")

set(failed "")
foreach(program tests/qorvalin_tests tests/faults/qorvalin_faults)
    execute_process(COMMAND ${QORVALIN_ASAN_DIR}/${program} --gtest_brief=1
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        list(APPEND failed ${program})
    endif()
endforeach()

execute_process(
    COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${QORVALIN_ASAN_DIR} -R "^scenarios$"
            --output-on-failure --no-tests=error
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    list(APPEND failed "the golden scenarios")
endif()

if(failed)
    message(FATAL_ERROR "Failed under AddressSanitizer and UndefinedBehaviorSanitizer: ${failed}")
endif()
