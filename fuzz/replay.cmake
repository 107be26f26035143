# The kept inputs of the fuzz targets (fuzz/regressions/<target>/), replayed by a test: each
# target's entry function is compiled into a normal program with fuzz/replay_main.cpp, so the
# debug build checks them with its sanitizers even without clang.
function(tarvex_fuzz_replay target source)
  add_executable(${target}_replay ${PROJECT_SOURCE_DIR}/fuzz/${source} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(${target}_replay PRIVATE ${ARGN})
  add_test(NAME fuzz_regressions.${target}
    COMMAND ${target}_replay ${PROJECT_SOURCE_DIR}/fuzz/regressions/${target})
endfunction()

tarvex_fuzz_replay(fuzz_storage_requests storage_requests_fuzz.cpp tarvex_platform_sim)
tarvex_fuzz_replay(fuzz_profile_loader profile_loader_fuzz.cpp tarvex_platform_sim)
tarvex_fuzz_replay(fuzz_sense_data sense_data_fuzz.cpp tarvex_platform_linux)
tarvex_fuzz_replay(fuzz_host_facts host_facts_fuzz.cpp tarvex_platform_linux)
