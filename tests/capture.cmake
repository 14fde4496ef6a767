commtest_add_test(tst_capture_record SOURCES tst_capture_record.cpp LIBS commtest_core)
commtest_add_test(tst_capture_file SOURCES tst_capture_file.cpp LIBS commtest_core)
commtest_add_test(tst_capture_setup SOURCES tst_capture_setup.cpp support/fakeserialcontrol.h
  support/fakesavedialog.h support/fakeoptionsprompt.h LIBS commtest_gui)
