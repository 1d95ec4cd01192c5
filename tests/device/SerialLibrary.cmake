# The serial library over serial and network lines against a scripted far end (a
# pseudo-terminal, a server on 127.0.0.1), and Telnet with COM port control byte for byte.
halvern_test(test_serial_library SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_serial_library.cpp
  LIBS halvern_serial util)
halvern_test(test_telnet SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_telnet.cpp LIBS halvern_serial)
