commtest_add_test(tst_transmit_framing SOURCES tst_transmit_framing.cpp LIBS commtest_core)
commtest_add_test(tst_transmit_window SOURCES tst_transmit_window.cpp support/fakeserialcontrol.h
  LIBS commtest_gui)
commtest_add_test(tst_transmit_pty SOURCES tst_transmit_pty.cpp support/pty.h LIBS commtest_gui)
