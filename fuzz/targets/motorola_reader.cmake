# The S-record reader against a plain model of its rules.
halvern_fuzz_target(motorola_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/motorola_reader.cpp LIBS halvern_image)
