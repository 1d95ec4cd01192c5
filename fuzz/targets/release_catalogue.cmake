# The release catalogue over a generated directory, and the whole-release check of each release.
halvern_fuzz_target(release_catalogue SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/release_catalogue.cpp LIBS halvern_image)
