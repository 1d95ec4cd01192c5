# The system's own link and port library, and the lines it talks over.
add_library(halvern_serial STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SerialDeviceLibrary.cpp ${CMAKE_CURRENT_LIST_DIR}/SerialDeviceLibrary.h
  ${CMAKE_CURRENT_LIST_DIR}/Line.cpp ${CMAKE_CURRENT_LIST_DIR}/Line.h
  ${CMAKE_CURRENT_LIST_DIR}/SerialLine.cpp ${CMAKE_CURRENT_LIST_DIR}/SerialLine.h
  ${CMAKE_CURRENT_LIST_DIR}/NetworkLine.cpp ${CMAKE_CURRENT_LIST_DIR}/NetworkLine.h
  ${CMAKE_CURRENT_LIST_DIR}/ServerLock.cpp ${CMAKE_CURRENT_LIST_DIR}/ServerLock.h
  ${CMAKE_CURRENT_LIST_DIR}/Telnet.cpp ${CMAKE_CURRENT_LIST_DIR}/Telnet.h
  ${CMAKE_CURRENT_LIST_DIR}/DeviceLibrary.h)
target_link_libraries(halvern_serial PUBLIC halvern_ports halvern_common halvern_headers Qt6::SerialPort Qt6::Network)
