halvern_fuzz_target(frame_hunter SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/frame_hunter.cpp LIBS halvern_frame_hunter)
