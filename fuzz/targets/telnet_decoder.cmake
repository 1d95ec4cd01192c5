# The Telnet decoder and negotiator over whatever a server may send.
halvern_fuzz_target(telnet_decoder SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/telnet_decoder.cpp LIBS halvern_serial)
