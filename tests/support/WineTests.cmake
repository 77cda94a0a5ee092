# The window reader of the tests under Wine.

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
