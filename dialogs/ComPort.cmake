# The serial port dialog.
add_library(halvern_dialog_comport STATIC
  ${CMAKE_CURRENT_LIST_DIR}/frmComPort.cpp ${CMAKE_CURRENT_LIST_DIR}/frmComPort.h)
target_link_libraries(halvern_dialog_comport PUBLIC halvern_device halvern_ports halvern_common Qt6::Widgets)
