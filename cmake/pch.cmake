# Precompiled headers. Parsing Qt's headers is about 40 % of compiling a file of ours, and
# nearly every file includes the same few, so each library parses them once. A file that
# forgets an include still builds with COMMTEST_PCH=ON; -DCOMMTEST_PCH=OFF finds it.
#
# A test or program reuses the header of the library it links (REUSE_FROM) when it is
# compiled with the same macros; the flags must match exactly, so only targets made by our
# own functions (commtest_add_test, commtest_add_fuzzer) and the programs below reuse one.
option(COMMTEST_PCH "Precompile the Qt headers most files include" ON)

set(commtest_pch_core
  <algorithm> <array> <functional> <memory> <optional> <vector>
  <QByteArray> <QDateTime> <QDeadlineTimer> <QDir> <QElapsedTimer> <QFile> <QFileInfo>
  <QList> <QObject> <QPointer> <QSerialPort> <QString> <QStringList> <QTcpSocket> <QTimer>)
set(commtest_pch_gui ${commtest_pch_core}
  <QAccessible> <QAction> <QApplication> <QCheckBox> <QComboBox> <QLabel> <QLineEdit>
  <QMenu> <QMessageBox> <QPushButton> <QWidget>)
set(commtest_pch_test <QProcess> <QSignalSpy> <QTemporaryDir> <QTest>)

if(COMMTEST_PCH AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # ccache reuses what was compiled with a precompiled header only when clang leaves the
  # header's time out of it.
  target_compile_options(commtest_options INTERFACE -Xclang -fno-pch-timestamp)
endif()

# commtest_precompile(<target> core|gui|test-core|test-gui)
function(commtest_precompile target kind)
  if(NOT COMMTEST_PCH)
    return()
  endif()
  if(kind STREQUAL "core")
    set(headers ${commtest_pch_core})
  elseif(kind STREQUAL "gui")
    set(headers ${commtest_pch_gui})
  elseif(kind STREQUAL "test-core")
    set(headers ${commtest_pch_core} ${commtest_pch_test})
  elseif(kind STREQUAL "test-gui")
    set(headers ${commtest_pch_gui} ${commtest_pch_test})
  else()
    message(FATAL_ERROR "commtest_precompile: unknown kind '${kind}'")
  endif()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# commtest_reuse_pch(<target> <library>): compile <target> with <library>'s header.
function(commtest_reuse_pch target library)
  if(COMMTEST_PCH)
    target_precompile_headers(${target} REUSE_FROM ${library})
  endif()
endfunction()
