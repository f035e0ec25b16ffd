# Simultaneous commits through the installed program, once per store, and
# the store's edges that a site relies on (customer numbers, whole cents,
# the login throttle), served in process on each store.
add_executable(booking_concurrency_tests concurrency/booking_concurrency_test.cpp
  concurrency/backend_edges_test.cpp concurrency/waiting_list_test.cpp ${TEST_SUPPORT})
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

# The PostgreSQL variant needs the throwaway server of tests/store.cmake (the
# fixture "pg") on port 16000, the one port the program uses, and recreates the
# server's database VELMORI, which every PostgreSQL road of the program shares.
add_test(NAME booking_concurrency_pg
  COMMAND booking_concurrency_tests --gtest_filter=*/SimultaneousCommits.*/Postgres)
set_tests_properties(booking_concurrency_pg PROPERTIES
  TIMEOUT 300 FIXTURES_REQUIRED pg RESOURCE_LOCK weborvane_pg_velmori
  ENVIRONMENT "WO_PG_PORT=16000;WO_PG_HOST=127.0.0.1;WO_PG_USER=weborvane")

# The same commits through FastCGI workers: a few processes, each serving
# request after request on its kept connection.
add_test(NAME booking_concurrency_sqlite_fastcgi
  COMMAND booking_concurrency_tests --gtest_filter=*/SimultaneousCommits.*/Sqlite)
set_tests_properties(booking_concurrency_sqlite_fastcgi PROPERTIES TIMEOUT 300 ENVIRONMENT WO_THROUGH=fastcgi)
add_test(NAME booking_concurrency_pg_fastcgi
  COMMAND booking_concurrency_tests --gtest_filter=*/SimultaneousCommits.*/Postgres:*/KeptConnection.*)
set_tests_properties(booking_concurrency_pg_fastcgi PROPERTIES
  TIMEOUT 300 FIXTURES_REQUIRED pg RESOURCE_LOCK weborvane_pg_velmori
  ENVIRONMENT "WO_THROUGH=fastcgi;WO_PG_PORT=16000;WO_PG_HOST=127.0.0.1;WO_PG_USER=weborvane")

add_test(NAME booking_edges_sqlite COMMAND booking_concurrency_tests --gtest_filter=*/BackendEdges.*/Sqlite)
set_tests_properties(booking_edges_sqlite PROPERTIES TIMEOUT 300)
add_test(NAME booking_edges_pg COMMAND booking_concurrency_tests --gtest_filter=*/BackendEdges.*/Postgres)
set_tests_properties(booking_edges_pg PROPERTIES
  TIMEOUT 300 FIXTURES_REQUIRED pg RESOURCE_LOCK weborvane_pg_velmori
  ENVIRONMENT "WO_PG_PORT=16000;WO_PG_HOST=127.0.0.1;WO_PG_USER=weborvane")

# The waiting lists through the installed program, once per store.
add_test(NAME booking_waiting_list_sqlite
  COMMAND booking_concurrency_tests --gtest_filter=*/WaitingList*.*/Sqlite)
set_tests_properties(booking_waiting_list_sqlite PROPERTIES TIMEOUT 300)
add_test(NAME booking_waiting_list_pg
  COMMAND booking_concurrency_tests --gtest_filter=*/WaitingList*.*/Postgres)
set_tests_properties(booking_waiting_list_pg PROPERTIES
  TIMEOUT 300 FIXTURES_REQUIRED pg RESOURCE_LOCK weborvane_pg_velmori
  ENVIRONMENT "WO_PG_PORT=16000;WO_PG_HOST=127.0.0.1;WO_PG_USER=weborvane")
add_test(NAME booking_waiting_list_sqlite_fastcgi
  COMMAND booking_concurrency_tests --gtest_filter=*/WaitingList*.*/Sqlite)
set_tests_properties(booking_waiting_list_sqlite_fastcgi PROPERTIES TIMEOUT 300 ENVIRONMENT WO_THROUGH=fastcgi)
