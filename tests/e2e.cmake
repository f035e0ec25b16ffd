# Browser, load and race tests through lighttpd on a fresh install of this
# build (tests/e2e/*.mjs, run by node with playwright-core driving Debian's
# chromium), and wo-dump, which lets them read the database of either
# backend.
add_executable(wo-dump tools/wo_dump.cpp support/dump.cpp)
target_include_directories(wo-dump PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wo-dump PRIVATE weborvane)

if(NOT WEBORVANE_FUZZ)
  find_program(WO_NODE node)
  if(NOT WO_NODE)
    set(WO_NODE node)
  endif()
  set(WO_E2E ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
  set(WO_E2E_ARGS --build ${PROJECT_BINARY_DIR} --source ${PROJECT_SOURCE_DIR})
  # The tests install this build and use wo-dump; ctest runs after a build.
  function(wo_e2e_test name script)
    add_test(NAME ${name} COMMAND ${WO_NODE} ${WO_E2E}/${script} ${WO_E2E_ARGS} ${ARGN}
      WORKING_DIRECTORY ${WO_E2E})
    # One at a time, and never beside the other tests that take both cores
    # (the load test, the package build): chromium is slow to start.
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS e2e RESOURCE_LOCK weborvane_e2e_cpu)
  endfunction()

  # The roads on a desktop's screen and on a phone's.
  wo_e2e_test(e2e_road_fin road.mjs --lang Fin --screen 1280x900)
  wo_e2e_test(e2e_road_eng road.mjs --lang Eng --screen 1280x900)
  wo_e2e_test(e2e_road_fin_phone road.mjs --lang Fin --screen 390x844)
  wo_e2e_test(e2e_road_eng_phone road.mjs --lang Eng --screen 390x844)
  wo_e2e_test(e2e_road_pg road.mjs --lang Fin --pg)
  # The password reset by e-mail, with a real SMTP server.
  wo_e2e_test(e2e_reset_fin reset.mjs --lang Fin)
  wo_e2e_test(e2e_reset_eng reset.mjs --lang Eng)
  # A waiting list: join a full slot, get the place the desktop frees, book it.
  wo_e2e_test(e2e_waitlist waitlist.mjs)
  wo_e2e_test(e2e_load load.mjs --seconds 10 --connections 8)
  wo_e2e_test(e2e_race_sqlite race.mjs)
  wo_e2e_test(e2e_race_pg race.mjs --pg)
  # The PostgreSQL roads use the server's database VELMORI, the one name the
  # program connects to: one test at a time.
  # The program reaches its server on port 16000 only.
  set_tests_properties(e2e_road_pg e2e_race_pg PROPERTIES
    FIXTURES_REQUIRED pg RESOURCE_LOCK "weborvane_pg_velmori;weborvane_e2e_cpu"
    ENVIRONMENT "WO_PG_PORT=16000;WO_PG_HOST=127.0.0.1;WO_PG_USER=weborvane")
endif()
