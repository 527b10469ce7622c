# Kivra fuzz targets: arbitrary bytes as a recording through the exported
# decode flow, and arbitrary bytes as an elementary stream into the decoder.
tavrel_add_fuzzer(fuzz_kivra_stream fuzz_kivra_stream.cpp)
target_link_libraries(fuzz_kivra_stream PRIVATE kivra_internal)
tavrel_add_fuzzer(fuzz_kivra_es fuzz_kivra_es.cpp)
target_link_libraries(fuzz_kivra_es PRIVATE kivra_internal)
