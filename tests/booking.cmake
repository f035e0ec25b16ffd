# Simultaneous commits through the installed program, once per store.
add_executable(booking_concurrency_tests concurrency/booking_concurrency_test.cpp ${TEST_SUPPORT})
target_include_directories(booking_concurrency_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(booking_concurrency_tests PRIVATE weborvane GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_definitions(booking_concurrency_tests PRIVATE
  WO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  WO_BINARY_DIR="${PROJECT_BINARY_DIR}"
  WO_CGI_PROGRAM="$<TARGET_FILE:weborvane_cgi>"
  WO_ADMIN_PROGRAM="$<TARGET_FILE:weborvane-admin>")
add_dependencies(booking_concurrency_tests weborvane_cgi weborvane-admin)

add_test(NAME booking_concurrency_sqlite
  COMMAND booking_concurrency_tests --gtest_filter=*/SimultaneousCommits.*/Sqlite)
set_tests_properties(booking_concurrency_sqlite PROPERTIES TIMEOUT 300)
