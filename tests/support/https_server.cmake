# The loopback HTTPS test server (cpp-httplib over OpenSSL) with a certificate authority made
# in-process, and nginx with HTTP/2 over TLS under certificates of that authority; shared by the
# tests and the benchmarks, no test framework in them. Debian's cpp-httplib is built with TLS, and
# its pkg-config flags already define CPPHTTPLIB_OPENSSL_SUPPORT for every user, so this target
# defines it too and links OpenSSL.
if(TARGET zembrat_test_https)
    return()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/http_server.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/servers.cmake")
find_package(OpenSSL REQUIRED)
add_library(zembrat_test_https STATIC "${CMAKE_CURRENT_LIST_DIR}/https_server.cpp"
            "${CMAKE_CURRENT_LIST_DIR}/http2_server.cpp")
target_include_directories(zembrat_test_https PUBLIC "${CMAKE_CURRENT_LIST_DIR}/..")
target_compile_definitions(zembrat_test_https PRIVATE CPPHTTPLIB_OPENSSL_SUPPORT)
target_link_libraries(zembrat_test_https PUBLIC zembrat_test_http zembrat_test_servers
                      PRIVATE PkgConfig::HTTPLIB OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
