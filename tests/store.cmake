# The table store on PostgreSQL. A throwaway server runs for the test run
# (fixture "pg": tests/pg/pg-server.sh start ... stop) and the binary
# store_pg_tests runs the store suites on it: every tests/unit/store_*_test.cpp
# and *_pg_test.cpp, compiled again with WO_PG_TESTS defined (those files
# instantiate their PostgreSQL cases under it; the same files in unit_tests
# run on SQLite). Configure with -DWO_PG_TEST_PORT=N to run a second build's
# tests beside this one.
set(WO_PG_TEST_PORT 16000 CACHE STRING "port of the throwaway PostgreSQL server of the tests")
set(WO_PG_SERVER ${CMAKE_CURRENT_SOURCE_DIR}/pg/pg-server.sh)
set(WO_PG_ENV "WO_PG_PORT=${WO_PG_TEST_PORT};WO_PG_HOST=127.0.0.1;WO_PG_USER=weborvane;WO_PG_LEASE=${PROJECT_BINARY_DIR}")

add_test(NAME pg.server.start COMMAND sh ${WO_PG_SERVER} start)
set_tests_properties(pg.server.start PROPERTIES FIXTURES_SETUP pg TIMEOUT 180 ENVIRONMENT "${WO_PG_ENV}")
add_test(NAME pg.server.stop COMMAND sh ${WO_PG_SERVER} stop)
set_tests_properties(pg.server.stop PROPERTIES FIXTURES_CLEANUP pg TIMEOUT 120 ENVIRONMENT "${WO_PG_ENV}")

file(GLOB STORE_PG_TESTS CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/unit/store_*_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/unit/*_pg_test.cpp)
add_executable(store_pg_tests ${STORE_PG_TESTS} ${TEST_SUPPORT})
target_include_directories(store_pg_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(store_pg_tests PRIVATE weborvane_mailer GTest::gtest GTest::gtest_main Threads::Threads)
target_compile_definitions(store_pg_tests PRIVATE
  WO_PG_TESTS=1
  WO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  WO_BINARY_DIR="${PROJECT_BINARY_DIR}"
  WO_CGI_PROGRAM="$<TARGET_FILE:weborvane_cgi>"
  WO_ADMIN_PROGRAM="$<TARGET_FILE:weborvane-admin>")
add_dependencies(store_pg_tests weborvane_cgi weborvane-admin)
# The administration command's suites work on the database a site names,
# VELMORI, which the booking tests on the server use as well.
gtest_discover_tests(store_pg_tests TEST_PREFIX "pg." DISCOVERY_TIMEOUT 60 TEST_FILTER "-*StoreAdmin*"
  PROPERTIES FIXTURES_REQUIRED pg TIMEOUT 600 ENVIRONMENT "${WO_PG_ENV}")
gtest_discover_tests(store_pg_tests TEST_PREFIX "pg." DISCOVERY_TIMEOUT 60 TEST_FILTER "*StoreAdmin*"
  TEST_LIST STORE_PG_ADMIN_TESTS
  PROPERTIES FIXTURES_REQUIRED pg TIMEOUT 600 RESOURCE_LOCK weborvane_pg_velmori ENVIRONMENT "${WO_PG_ENV}")
