# The simulated instrument: its frames and answers as values, then the program itself
# read through its pseudo-terminal.
commtest_add_test(tst_sim SOURCES tst_sim.cpp LIBS commtest_sim)

commtest_add_test(tst_sim_program SOURCES tst_sim_program.cpp LIBS commtest_sim commtest_core)
target_compile_definitions(tst_sim_program PRIVATE COMMTEST_SIM_PATH="$<TARGET_FILE:commtest-sim>")
add_dependencies(tst_sim_program commtest-sim)

# The README's run command, headless and for a bounded time.
commtest_add_test(tst_sim_run SOURCES tst_sim_run.cpp LIBS Qt6::Core TIMEOUT 120)
target_compile_definitions(tst_sim_run PRIVATE
  COMMTEST_RUN_MONITOR="${PROJECT_SOURCE_DIR}/tools/run-monitor"
  COMMTEST_BUILD_DIR="${PROJECT_BINARY_DIR}")
add_dependencies(tst_sim_run commtest commtest-sim)

# cmake --install into a temporary prefix: programs, menu entry, icon.
commtest_add_test(tst_sim_install SOURCES tst_sim_install.cpp LIBS Qt6::Core TIMEOUT 120)
target_compile_definitions(tst_sim_install PRIVATE
  COMMTEST_CMAKE="${CMAKE_COMMAND}"
  COMMTEST_BUILD_DIR="${PROJECT_BINARY_DIR}")
add_dependencies(tst_sim_install commtest commtest-sim commtest_docs)

# Simulator -> pty -> monitor window over the real serial layer -> capture file.
commtest_add_test(tst_sim_e2e SOURCES tst_sim_e2e.cpp LIBS commtest_gui commtest_sim TIMEOUT 180)
target_compile_definitions(tst_sim_e2e PRIVATE COMMTEST_SIM_PATH="$<TARGET_FILE:commtest-sim>")
add_dependencies(tst_sim_e2e commtest-sim)
