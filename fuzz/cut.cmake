tavrel_add_fuzzer(fuzz_psi ${CMAKE_CURRENT_LIST_DIR}/fuzz_psi.cpp)
target_link_libraries(fuzz_psi PRIVATE tavrel_core)
