# The serial library against a scripted peer on a pseudo-terminal.
halvern_test(test_serial_library SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_serial_library.cpp
  LIBS halvern_serial util)
# Telnet with COM port control byte for byte, and the library over network lines against a
# scripted server on 127.0.0.1.
halvern_test(test_telnet SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_telnet.cpp LIBS halvern_serial)
halvern_test(test_network_line SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_network_line.cpp LIBS halvern_serial)
# The serial line's wait for the driver's output queue.
halvern_test(test_serial_line SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_serial_line.cpp LIBS halvern_serial)
