target_link_libraries(${fuzz_target} PRIVATE host_protocol)
