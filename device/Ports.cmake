# The serial ports found on the machine, for the port dialog and --list-ports, and the one
# resolver of port names that the library, the dialog and the command line share.
add_library(halvern_ports STATIC
  ${CMAKE_CURRENT_LIST_DIR}/PortList.cpp ${CMAKE_CURRENT_LIST_DIR}/PortList.h
  ${CMAKE_CURRENT_LIST_DIR}/PortResolver.cpp ${CMAKE_CURRENT_LIST_DIR}/PortResolver.h)
target_link_libraries(halvern_ports PUBLIC halvern_common halvern_headers Qt6::SerialPort Qt6::Network)
