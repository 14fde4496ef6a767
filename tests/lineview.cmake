commtest_add_test(tst_lineview SOURCES tst_lineview.cpp LIBS commtest_gui TIMEOUT 120)
commtest_add_test(tst_linestore SOURCES tst_linestore.cpp LIBS commtest_core)
commtest_add_test(tst_pane_find_save SOURCES tst_pane_find_save.cpp LIBS commtest_gui)
