#pragma once
// The monitor window as window tests drive it: a Form_Comm on a serial control (the fake
// one unless a test brings another), with the scripted save dialog and options prompt,
// and the steps the tests repeat: capture to a file, feed characters, read the panes.
// PtyMonitor puts the real serial layer on a pseudo-terminal mapped as port 4.

#include "app/form_comm.h"
#include "support/fakeopendialog.h"
#include "support/fakeoptionsprompt.h"
#include "support/fakesavedialog.h"
#include "support/fakeserialcontrol.h"
#include "support/pty.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class LineView;
class QComboBox;
class QLineEdit;

class Monitor
{
public:
    // On the fake serial control; prepare runs before the window opens its port.
    explicit Monitor(const std::function<void(FakeSerialControl &)> &prepare = {});
    explicit Monitor(std::unique_ptr<SerialControl> control);
    virtual ~Monitor();
    Monitor(const Monitor &) = delete;
    Monitor &operator=(const Monitor &) = delete;

    SerialControl *serial = nullptr;
    FakeSerialControl *fake = nullptr; // null unless the window runs on the fake
    FakeSaveDialog *save = nullptr;
    FakeOptionsPrompt *options = nullptr;
    FakeOpenDialog *openDialog = nullptr; // "Send file" asks this one
    std::unique_ptr<Form_Comm> form;

    template<typename T>
    T *child(const char *name) const
    {
        return form->findChild<T *>(QString::fromLatin1(name));
    }
    bool portOpen() const;
    // The text of the property panel's value cell k (0 CommPort, 1 Settings, 2 PortOpen).
    QString val(int k) const;
    LineView *out() const;
    LineView *bffr() const;
    QComboBox *profiles() const;
    QString suffix() const;
    QColor led() const;
    QLineEdit *box() const; // the command box
    QList<QByteArray> outLines() const;
    // The received characters as the buffer log shows them, one per line.
    QByteArray loggedBytes() const;

    // "Monitor Port" on or off.
    void monitor(bool on) const;
    // An operator pick of a profile entry, through the list's popup.
    void pick(int index) const;
    // A profile set in the list and its click handler run, without the popup.
    void setProfile(int index) const;
    // "Reset Comm" with this port list text.
    void reset(const QString &portText = QStringLiteral("COM 4")) const;
    // The command typed in the box and sent with this suffix.
    void send(const QString &command, const QString &suffix) const;
    // The command typed in the box and repeated through "Repeat command" (count 0: until
    // stopped).
    void repeat(const QString &command, int periodMs, int count) const;

    // Capture on through the window's set-up, one click on "output to file": the options
    // answered OK with timestamp and source, the save dialog with path. True when the
    // options were asked once and capture is on afterwards.
    bool startCapture(const QString &path, bool timestamp = false,
                      const QString &source = QString());
};

// The window on the real serial layer, port 4 mapped to a pty of its own (or to device).
class PtyMonitor : public PtyPort, public Monitor
{
public:
    explicit PtyMonitor(const QString &device = QString());
};
