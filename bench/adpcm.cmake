target_link_libraries(bench_adpcm PRIVATE PkgConfig::AV)
