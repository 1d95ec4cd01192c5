halvern_bench(bench_frame_layer SOURCES frame_layer.cpp LIBS halvern_link)
