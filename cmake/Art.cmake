# qorvalin_art(OUTDIR OUTVAR): generates the program's icons and splash bitmap from res/art with
# tools/gen_art.py into OUTDIR, with the resource script's icons.rc and the names header
# art_names.h, and sets OUTVAR to the list of those files; target qorvalin_art_files builds them.
# A second call in the same build returns the same list rather than adding a second rule.

# Found from this file rather than CMAKE_SOURCE_DIR so the rule also works when the
# project is built as part of a larger tree.
get_filename_component(QORVALIN_ART_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

function(qorvalin_art OUTDIR OUTVAR)
  if(TARGET qorvalin_art_files)
    get_property(_files GLOBAL PROPERTY QORVALIN_ART_FILES)
    set(${OUTVAR} "${_files}" PARENT_SCOPE)
    return()
  endif()
  if(NOT Python3_EXECUTABLE)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
  endif()

  # The art tool keeps the one list of what it writes.
  set(_tool "${QORVALIN_ART_ROOT}/tools/gen_art.py")
  execute_process(COMMAND "${Python3_EXECUTABLE}" "${_tool}" --list
                  OUTPUT_VARIABLE _names OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_tool}")
  list(TRANSFORM _names PREPEND "${OUTDIR}/" OUTPUT_VARIABLE _files)
  # CONFIGURE_DEPENDS so that a new map dropped into res/art reruns the generator too.
  file(GLOB _sources CONFIGURE_DEPENDS "${QORVALIN_ART_ROOT}/res/art/*")
  add_custom_command(
    OUTPUT ${_files}
    COMMAND "${Python3_EXECUTABLE}" "${_tool}" "${OUTDIR}"
    DEPENDS "${_tool}" ${_sources}
    COMMENT "Generating icons and logo in ${OUTDIR}"
    VERBATIM)
  add_custom_target(qorvalin_art_files ALL DEPENDS ${_files})
  set_property(GLOBAL PROPERTY QORVALIN_ART_FILES "${_files}")
  set(${OUTVAR} "${_files}" PARENT_SCOPE)
endfunction()
