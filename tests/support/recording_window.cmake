# The recording fake of the job's window and event points, shared by the tests, the benchmarks
# and the fuzz targets.
if(TARGET zembrat_recording_window)
    return()
endif()
add_library(zembrat_recording_window STATIC "${CMAKE_CURRENT_LIST_DIR}/recording_window.cpp")
target_include_directories(zembrat_recording_window PUBLIC "${CMAKE_CURRENT_LIST_DIR}/..")
target_link_libraries(zembrat_recording_window PUBLIC zembrat_common zembrat_ui_core)
