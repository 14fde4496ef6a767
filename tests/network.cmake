# Network ports: the COM-PORT-OPTION rules, and the control against a real ser2net.
commtest_add_test(tst_rfc2217 SOURCES tst_rfc2217.cpp LIBS commtest_core)
commtest_add_test(tst_network SOURCES tst_network.cpp LIBS commtest_core TIMEOUT 120)
