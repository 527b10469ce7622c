# Tests of the cutting part: program tables, clip list, output rewrites, the
# cut job, and the pids/cut commands end to end.
add_executable(cut_tests
  ${CMAKE_CURRENT_LIST_DIR}/test_cut_tables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_cut_clips.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_cut_rewrite.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_cut_job.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recording_host.cpp
)
target_link_libraries(cut_tests PRIVATE tavrel_core GTest::gtest_main)
target_compile_definitions(cut_tests PRIVATE TAVREL_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
gtest_discover_tests(cut_tests DISCOVERY_TIMEOUT 60)

add_test(NAME cli_cut_end_to_end
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/cli_cut_e2e.sh $<TARGET_FILE:tavrelcut-cli>
          ${CMAKE_CURRENT_LIST_DIR}/data)

# Refused inputs, read-only folders, full disks, interrupts and bad values.
add_test(NAME cli_robust_end_to_end
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/cli_robust_e2e.sh $<TARGET_FILE:tavrelcut-cli>
          ${CMAKE_CURRENT_LIST_DIR}/data)
