# The shaped-network lab of the link tests.
target_sources(bench_slow_network PRIVATE ${PROJECT_SOURCE_DIR}/tests/link/slow_link_lab.cpp
  ${PROJECT_SOURCE_DIR}/tests/link/tun_wire.cpp)
target_include_directories(bench_slow_network PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
add_dependencies(bench_slow_network tavolen-camsim)
