# The serial library against a scripted peer on a pseudo-terminal.
halvern_test(test_serial_library SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_serial_library.cpp
  LIBS halvern_serial util)
