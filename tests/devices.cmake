# Finding devices, the port mapping and waiting for a replugged device.
commtest_add_test(tst_devices SOURCES tst_devices.cpp LIBS commtest_core TIMEOUT 60)
# The window's port menu, port tooltips and re-opening after a replug.
commtest_add_test(tst_ports_window SOURCES tst_ports_window.cpp LIBS commtest_gui TIMEOUT 120)
