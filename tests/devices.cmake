# Finding devices, the port mapping and waiting for a replugged device.
commtest_add_test(tst_devices SOURCES tst_devices.cpp support/pty.h support/fakedevicediscovery.h
  LIBS commtest_core TIMEOUT 60)
