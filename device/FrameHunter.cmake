# The reader of upload frames as a pure function, shared by the serial library and the fuzzer,
# and the words for a port that cannot be opened.
add_library(halvern_frame_hunter STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FrameHunter.cpp ${CMAKE_CURRENT_LIST_DIR}/FrameHunter.h)
target_link_libraries(halvern_frame_hunter PUBLIC halvern_headers)
if(TARGET halvern_serial)
  target_sources(halvern_serial PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/PortDiagnosis.cpp ${CMAKE_CURRENT_LIST_DIR}/PortDiagnosis.h)
  target_link_libraries(halvern_serial PUBLIC halvern_frame_hunter)
endif()
