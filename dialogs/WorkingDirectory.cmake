# The working directory dialog.
add_library(halvern_dialog_workdir STATIC
  ${CMAKE_CURRENT_LIST_DIR}/frmWorkingDirectory.cpp ${CMAKE_CURRENT_LIST_DIR}/frmWorkingDirectory.h)
target_link_libraries(halvern_dialog_workdir PUBLIC halvern_image halvern_common Qt6::Widgets)
