# The simulated instrument: its frames and answers as values, then the program itself
# read through its pseudo-terminal.
commtest_add_test(tst_sim SOURCES tst_sim.cpp LIBS commtest_sim)

commtest_add_test(tst_sim_program SOURCES tst_sim_program.cpp LIBS commtest_sim commtest_core)
target_compile_definitions(tst_sim_program PRIVATE COMMTEST_SIM_PATH="$<TARGET_FILE:commtest-sim>")
add_dependencies(tst_sim_program commtest-sim)
