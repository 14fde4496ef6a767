commtest_add_test(tst_receiverules SOURCES tst_receiverules.cpp LIBS commtest_core)
commtest_add_test(tst_receive_window SOURCES tst_receive_window.cpp tst_receive_helpers.h
  support/fakeserialcontrol.h support/fakesavedialog.h LIBS commtest_gui)
commtest_add_test(tst_receive_pty SOURCES tst_receive_pty.cpp tst_receive_helpers.h
  support/pty.h support/fakesavedialog.h LIBS commtest_gui TIMEOUT 300)
commtest_add_test(tst_linestatistics SOURCES tst_linestatistics.cpp LIBS commtest_core)
