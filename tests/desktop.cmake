# The program as a desktop meets it: its command line and the port queries it answers,
# and lending its port to another program on a signal.
commtest_add_test(tst_commandline SOURCES tst_commandline.cpp LIBS commtest_core)
target_compile_definitions(tst_commandline PRIVATE COMMTEST_PROJECT_VERSION="${PROJECT_VERSION}")

commtest_add_test(tst_handoff SOURCES tst_handoff.cpp LIBS commtest_gui)
target_compile_definitions(tst_handoff PRIVATE COMMTEST_PATH="$<TARGET_FILE:commtest>")
add_dependencies(tst_handoff commtest)

# cpack's Debian package, checked by lintian: it installs every program and document.
commtest_add_test(tst_package SOURCES tst_package.cpp LIBS Qt6::Core TIMEOUT 300)
target_compile_definitions(tst_package PRIVATE
  COMMTEST_CPACK="${CMAKE_CPACK_COMMAND}"
  COMMTEST_BUILD_DIR="${PROJECT_BINARY_DIR}"
  COMMTEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(tst_package commtest commtest-sim commtest_docs)
