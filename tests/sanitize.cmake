# Sanitized runs: the unit tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the libFuzzer targets for a bounded time.
# Both use one separate clang build inside this build tree (sanitized/),
# configured and built by the first test below.
option(WEBORVANE_FUZZ "Build the libFuzzer targets (clang only)" OFF)

if(WEBORVANE_FUZZ)
  foreach(t fuzz_query fuzz_template fuzz_request)
    add_executable(${t} fuzz/${t}.cpp)
    target_link_libraries(${t} PRIVATE weborvane)
    target_link_options(${t} PRIVATE -fsanitize=fuzzer)
  endforeach()
  target_sources(fuzz_request PRIVATE ${TEST_SUPPORT})
  target_include_directories(fuzz_request PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(fuzz_request PRIVATE
    WO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    WO_BINARY_DIR="${PROJECT_BINARY_DIR}"
    WO_CGI_PROGRAM="$<TARGET_FILE:weborvane_cgi>"
    WO_ADMIN_PROGRAM="$<TARGET_FILE:weborvane-admin>")
  add_dependencies(fuzz_request weborvane_cgi weborvane-admin)
else()
  set(WO_SANITIZED_DIR ${PROJECT_BINARY_DIR}/sanitized)
  set(WO_SAN_ENV
    "ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

  add_test(NAME sanitized_build
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/sanitize/build.sh ${PROJECT_SOURCE_DIR} ${WO_SANITIZED_DIR})
  set_tests_properties(sanitized_build PROPERTIES FIXTURES_SETUP sanitized TIMEOUT 1800)

  add_test(NAME asan_unit_tests COMMAND ${WO_SANITIZED_DIR}/tests/unit_tests --gtest_brief=1)
  set_tests_properties(asan_unit_tests PROPERTIES
    FIXTURES_REQUIRED sanitized TIMEOUT 1200 ENVIRONMENT "${WO_SAN_ENV}")

  # About 25 s each: enough to get through the corpus and well past it.
  set(WO_FUZZ_SECONDS 25)
  foreach(t query template request)
    set(dict "")
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${t}.dict)
      set(dict ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/${t}.dict)
    endif()
    add_test(NAME fuzz_${t}
      COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run-fuzzer.sh ${WO_SANITIZED_DIR} fuzz_${t}
              ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/fuzz_${t} ${WO_FUZZ_SECONDS} ${dict})
    set_tests_properties(fuzz_${t} PROPERTIES FIXTURES_REQUIRED sanitized TIMEOUT 300)
  endforeach()
endif()
