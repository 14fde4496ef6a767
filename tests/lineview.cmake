commtest_add_test(tst_lineview SOURCES tst_lineview.cpp LIBS commtest_gui TIMEOUT 120)
