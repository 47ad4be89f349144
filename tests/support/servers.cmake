# The real publishing servers on 127.0.0.1 (SFTP, FTP/FTPS, S3, WebDAV), shared by the tests and
# the benchmarks; no test framework in them.
if(TARGET zembrat_test_servers)
    return()
endif()
add_library(zembrat_test_servers STATIC
            "${CMAKE_CURRENT_LIST_DIR}/server_process.cpp" "${CMAKE_CURRENT_LIST_DIR}/sshd_server.cpp"
            "${CMAKE_CURRENT_LIST_DIR}/vsftpd_server.cpp" "${CMAKE_CURRENT_LIST_DIR}/s3_server.cpp"
            "${CMAKE_CURRENT_LIST_DIR}/dav_server.cpp" "${CMAKE_CURRENT_LIST_DIR}/keyring_session.cpp")
target_include_directories(zembrat_test_servers PUBLIC "${CMAKE_CURRENT_LIST_DIR}/..")
target_compile_definitions(zembrat_test_servers PRIVATE ZEMBRAT_S3_SERVER_DIR="${CMAKE_CURRENT_LIST_DIR}/s3")
target_link_libraries(zembrat_test_servers PUBLIC zembrat_common PRIVATE PkgConfig::CURL)
