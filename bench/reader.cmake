# The Motorola reader against objcopy and srec_cat: bench/suites/10-reader.sh runs it.
halvern_bench(bench_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/reader.cpp LIBS halvern_image)
