# The version control file reader and the release line of a file's start.
halvern_fuzz_target(version_control SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/version_control.cpp LIBS halvern_image)
