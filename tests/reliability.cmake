# The fault suite: the whole monitor under faults, bad input and load. Each test prints
# REPORT lines that tools/reliability-report collects.
commtest_add_test(tst_reliability_port SOURCES tst_reliability_port.cpp LIBS commtest_gui TIMEOUT 120)
commtest_add_test(tst_reliability_capture SOURCES tst_reliability_capture.cpp LIBS commtest_gui TIMEOUT 120)
commtest_add_test(tst_reliability_load SOURCES tst_reliability_load.cpp LIBS commtest_gui TIMEOUT 300)
commtest_add_test(tst_reliability_input SOURCES tst_reliability_input.cpp LIBS commtest_gui TIMEOUT 120)
