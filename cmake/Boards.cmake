include_guard(GLOBAL)
# qorvalin_boards(VARIABLE GUEST): the names of the boards in harness/boards.json where GUEST
# (debian, reactos or baremetal) runs, the one table of the boards that Python reads too.
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/harness/boards.json)
function(qorvalin_boards variable guest)
    file(READ ${CMAKE_SOURCE_DIR}/harness/boards.json table)
    string(JSON count LENGTH "${table}")
    math(EXPR last "${count} - 1")
    set(names "")
    foreach(i RANGE ${last})
        string(JSON name MEMBER "${table}" ${i})
        string(JSON runs ERROR_VARIABLE absent GET "${table}" ${name} ${guest})
        if(NOT absent)
            list(APPEND names ${name})
        endif()
    endforeach()
    set(${variable} ${names} PARENT_SCOPE)
endfunction()
