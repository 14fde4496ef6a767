# Network ports: the COM-PORT-OPTION rules, and the control against a real ser2net.
commtest_add_test(tst_rfc2217 SOURCES tst_rfc2217.cpp LIBS commtest_core)
commtest_add_test(tst_network SOURCES tst_network.cpp LIBS commtest_core TIMEOUT 120)
# The same over TLS, against ser2net's ssl layer with certificates made at run time.
commtest_add_test(tst_network_tls SOURCES tst_network_tls.cpp LIBS commtest_gui TIMEOUT 180)
