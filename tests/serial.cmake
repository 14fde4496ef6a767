# The serial layer over QSerialPort, through real pseudo-terminals.
commtest_add_test(tst_serial_pty SOURCES tst_serial_pty.cpp LIBS commtest_core TIMEOUT 60)
