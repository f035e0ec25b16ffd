# The benchmark's own parts (bench/): the probe that tells a FastCGI worker
# from a CGI program, and the php-fpm and libfcgi pages writing the same
# bytes. Built where libfcgi-dev is (scripts/install-deps --test).
if(TARGET bench_fcgi_limit)
  add_executable(bench_harness_tests bench/harness_test.cpp ${PROJECT_SOURCE_DIR}/bench/servers.cpp)
  target_include_directories(bench_harness_tests PRIVATE ${PROJECT_SOURCE_DIR}/bench ${SQLITE3_INCLUDE_DIR})
  target_link_libraries(bench_harness_tests PRIVATE ${SQLITE3_STATIC} ${CMAKE_DL_LIBS} m
    GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(bench_harness_tests PRIVATE
    WO_BENCH_FLOOR="$<TARGET_FILE:bench_floor>"
    WO_BENCH_FCGI_LIMIT="$<TARGET_FILE:bench_fcgi_limit>"
    WO_BENCH_PEER_PHP="${PROJECT_SOURCE_DIR}/bench/peer_week.php")
  add_dependencies(bench_harness_tests bench_floor bench_fcgi_limit)
  gtest_discover_tests(bench_harness_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()
