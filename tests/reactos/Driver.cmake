# The ReactOS guest's test driver (qvdrive.exe): i686 for the guest, x86_64 for trying it under
# wine64 here. A GUI program, so that starting it at logon opens no console window; it shares
# the window reader's window lines.
set(QORVALIN_QVDRIVE_I686 ${CMAKE_CURRENT_BINARY_DIR}/i686/qvdrive.exe)
set(QORVALIN_QVDRIVE ${CMAKE_CURRENT_BINARY_DIR}/qvdrive.exe)
qorvalin_test_program(qorvalin_qvdrive_i686 i686 ${QORVALIN_QVDRIVE_I686}
                      ${CMAKE_CURRENT_LIST_DIR}/qvdrive.c ${QORVALIN_WINDUMP} FLAGS -mwindows
                      DEPENDS ${PROJECT_SOURCE_DIR}/report/controls.h)
qorvalin_test_program(qorvalin_qvdrive x86_64 ${QORVALIN_QVDRIVE}
                      ${CMAKE_CURRENT_LIST_DIR}/qvdrive.c ${QORVALIN_WINDUMP} FLAGS -mwindows
                      DEPENDS ${PROJECT_SOURCE_DIR}/report/controls.h)
