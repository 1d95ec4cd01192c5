# The serial connection: open and close around every device command, the "hndCom" mirror and
# Reset Port.
add_library(halvern_device STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SerialConnection.cpp ${CMAKE_CURRENT_LIST_DIR}/SerialConnection.h
  ${CMAKE_CURRENT_LIST_DIR}/DeviceLibrary.h)
target_link_libraries(halvern_device PUBLIC halvern_common halvern_headers)
