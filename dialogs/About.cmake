# The About box and the help window, and the help file beside the program.
add_library(halvern_dialog_about STATIC
  ${CMAKE_CURRENT_LIST_DIR}/frmAbout.cpp ${CMAKE_CURRENT_LIST_DIR}/frmAbout.h
  ${CMAKE_CURRENT_LIST_DIR}/HelpWindow.cpp ${CMAKE_CURRENT_LIST_DIR}/HelpWindow.h
  ${CMAKE_CURRENT_LIST_DIR}/program_icon.qrc)
target_link_libraries(halvern_dialog_about PUBLIC halvern_headers Qt6::Widgets)
target_compile_definitions(halvern_dialog_about PRIVATE
  HALVERN_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} HALVERN_VERSION_MINOR=${PROJECT_VERSION_MINOR})

# upload.hlp is copied into the directory of the program halvern, where the main window
# looks for it.
set(HALVERN_HELP_SOURCE ${CMAKE_CURRENT_LIST_DIR}/upload.hlp CACHE INTERNAL "The help file as written")
set(HALVERN_HELP_BUILT ${CMAKE_BINARY_DIR}/app/upload.hlp CACHE INTERNAL "The help file beside the program")
add_custom_command(OUTPUT ${HALVERN_HELP_BUILT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/app
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${HALVERN_HELP_SOURCE} ${HALVERN_HELP_BUILT}
  DEPENDS ${HALVERN_HELP_SOURCE}
  COMMENT "Copying the help file upload.hlp beside the program")
add_custom_target(halvern_help_file ALL DEPENDS ${HALVERN_HELP_BUILT})
add_dependencies(halvern_dialog_about halvern_help_file)
