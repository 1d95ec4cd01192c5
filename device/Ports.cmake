# The serial ports found on the machine, for the port dialog and --list-ports.
add_library(halvern_ports STATIC
  ${CMAKE_CURRENT_LIST_DIR}/PortList.cpp ${CMAKE_CURRENT_LIST_DIR}/PortList.h)
target_link_libraries(halvern_ports PUBLIC halvern_headers Qt6::SerialPort)
