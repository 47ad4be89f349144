# The loopback HTTP test server (cpp-httplib), shared by the tests and the benchmarks.
if(TARGET zembrat_test_http)
    return()
endif()
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
add_library(zembrat_test_http STATIC "${CMAKE_CURRENT_LIST_DIR}/http_server.cpp"
            "${CMAKE_CURRENT_LIST_DIR}/raw_server.cpp")
target_include_directories(zembrat_test_http PUBLIC "${CMAKE_CURRENT_LIST_DIR}/..")
target_link_libraries(zembrat_test_http PUBLIC zembrat_common PRIVATE PkgConfig::HTTPLIB Threads::Threads)
