# Not a Google Benchmark: a driver of the real main window for bench/suites/50-desktop.sh.
add_executable(desktop-upload desktop_upload.cpp)
target_link_libraries(desktop-upload PRIVATE halvern_headers halvern_app halvern_serial Qt6::Test)
