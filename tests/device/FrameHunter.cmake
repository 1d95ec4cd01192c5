halvern_test(test_frame_hunter SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_frame_hunter.cpp LIBS halvern_frame_hunter)
