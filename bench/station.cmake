# The station window's benchmarks (bench/station.sh): its start-up against its form alone
# (bench-window-form stationwindow), and 32 loggers written in the window against tempyra-cli
# provision on the virtual USB bench.
add_executable(bench-station-window station_window.cpp)
target_link_libraries(bench-station-window PRIVATE tempyra_stationwindow tempyra_stationresources
    tempyra_display tempyra_benchprobe tempyra_warnings)
add_executable(bench-station-run station_run.cpp)
target_link_libraries(bench-station-run PRIVATE tempyra_stationwindow tempyra_stationresources
    tempyra_benchprobe tempyra_warnings)
add_dependencies(bench bench-station-window bench-station-run)
if(TARGET tempyra-station-sound)
    add_dependencies(bench tempyra-station-sound)
endif()
