# Installs BUILD_DIR into PREFIX and checks what a technician's desktop and `man` find there.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "${ARGN}: exit ${rc}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${PREFIX})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
# The help lies where the program in bin/ looks when none is beside it: ../share/halvern.
foreach(file bin/halvern bin/halvern-upload bin/../share/halvern/upload.hlp
    share/applications/halvern.desktop share/icons/hicolor/scalable/apps/halvern.svg
    share/icons/hicolor/16x16/apps/halvern.png share/icons/hicolor/256x256/apps/halvern.png
    share/doc/halvern/copyright share/doc/halvern/README.md)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
run(${PREFIX}/bin/halvern-upload --help)
run(desktop-file-validate ${PREFIX}/share/applications/halvern.desktop)
if(NOT out STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate: ${out}")
endif()
foreach(page halvern halvern-upload)
  run(${CMAKE_COMMAND} -E env MANWIDTH=80 man --warnings -l ${PREFIX}/share/man/man1/${page}.1.gz)
endforeach()
