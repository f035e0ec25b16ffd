# Operations: installing over a site, the web servers Debian ships with the
# shipped drop-ins, the Debian package, and a backup under load. The server
# and package tests run in a throwaway copy of the machine (tests/ops/
# sandbox.sh, root only; without root they are skipped) with a network of
# its own, so the servers keep their stock ports.
set(WO_OPS ${CMAKE_CURRENT_SOURCE_DIR}/ops)

add_test(NAME ops_reinstall COMMAND sh ${WO_OPS}/reinstall.sh ${PROJECT_BINARY_DIR})
set_tests_properties(ops_reinstall PROPERTIES TIMEOUT 120 LABELS ops)

foreach(server lighttpd apache nginx lighttpd-fastcgi apache-fastcgi nginx-fastcgi)
  add_test(NAME ops_server_${server}
    COMMAND sh ${WO_OPS}/sandbox.sh --bind ${PROJECT_SOURCE_DIR} --bind ${PROJECT_BINARY_DIR} --
            sh ${WO_OPS}/serve.sh ${server} ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(ops_server_${server} PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77 LABELS ops)
endforeach()

# Builds the package once more from the sources (about two minutes of both
# cores): not beside the browser tests.
add_test(NAME ops_deb_package COMMAND sh ${WO_OPS}/deb.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
set_tests_properties(ops_deb_package PROPERTIES TIMEOUT 900 SKIP_RETURN_CODE 77 LABELS ops
  RESOURCE_LOCK weborvane_e2e_cpu)

if(NOT WEBORVANE_FUZZ)
  add_test(NAME ops_backup_under_load
    COMMAND ${WO_NODE} ${WO_OPS}/backup-load.mjs --build ${PROJECT_BINARY_DIR} --source ${PROJECT_SOURCE_DIR}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
  set_tests_properties(ops_backup_under_load PROPERTIES TIMEOUT 300 LABELS ops RESOURCE_LOCK weborvane_e2e_cpu)
endif()
