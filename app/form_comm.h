#pragma once
// The monitor window: owns the serial control, every control and the shared state.
//
//   SerialControl::OnComm --> MSComm1_OnComm --> Read_buffer --> frame end?
//        --> txt_out (display) and FlushFrame --> WriteToFile --> capture file
//   Timer1 (500 ms) --> Timer1_Timer --> LED_data
//   cmd_Send --> cmd_Send_Click --> SerialControl::setOutput
//
// The handlers are named by control and event. Their bodies live beside the
// subsystem they belong to: port/ (OpenPort, panel, port menu, replug), receive/ (receive
// path, profiles), transmit/ (send), capture/ (capture set-up, WriteToFile); app/ builds
// the window.

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QString>
#include <QWidget>

#include "capture/capturesession.h"
#include "capture/optionsprompt.h"
#include "port/propertypanel.h"
#include "port/replugwatch.h"
#include "receive/linestatistics.h"
#include "transmit/commandhistory.h"
#include "transmit/repeatschedule.h"

#include <QPointer>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTcpSocket;
class QTimer;
class QMessageBox;

class ClickLabel;
class DeviceDiscovery;
class LedShape;
class LineStatisticsWindow;
class LineView;
class PlotWindow;
class QAction;
class SerialControl;
class SaveDialog;
class FileSender;
class OpenDialog;
class SendFileWindow;

// A port argument: a number (start-up) or a port number text (from the port list).
using PortArgument = std::variant<qint16, QString>;

class Form_Comm : public QWidget
{
    Q_OBJECT
public:
    // What the load sequence opens: the serial control's port (4) and the settings box's
    // text, unless given here (the command line's --port and --settings).
    struct StartUp
    {
        std::optional<qint16> port;
        std::optional<QString> settings;
    };
    // Without an options prompt the set-up asks through the options dialog Form_OutputCfg.
    Form_Comm(std::unique_ptr<SerialControl> serial, std::unique_ptr<SaveDialog> saveDialog,
              std::unique_ptr<OptionsPrompt> optionsPrompt = nullptr, QWidget *parent = nullptr,
              const StartUp &startUp = {});
    ~Form_Comm() override;

    // Appends sChar to the frame being assembled, logs it, and tells whether it ended the
    // frame.
    bool Read_buffer(const QByteArray &sChar);
    // Writes one capture record while capture is on; a failed write ends capture and is
    // reported to the operator once. During a delivery pass the records wait for its end
    // and go in one write (flushCapture).
    void WriteToFile(const QByteArray &Prefix, const QByteArray &sData);
    void flushCapture();

    // State fields, read-only, for the window's own tests and tools.
    const QByteArray &frameBuffer() const { return FrameBuffer; }
    bool lineMode() const { return LineMode; }
    bool captureEnabled() const { return m_capture.captureEnabled(); }
    const QString &sourceString() const { return m_capture.sourceString(); }
    bool includeTimestamp() const { return m_capture.includeTimestamp(); }
    QDateTime lastReceiveTime() const { return QDateTime::fromMSecsSinceEpoch(LastReceiveTime); }
    SerialControl *serial() const { return MSComm1.get(); }
    const LineStatistics &lineStatistics() const { return m_stats; }
    // The "Line statistics" window once shown (null before).
    LineStatisticsWindow *lineStatisticsWindow() const;
    // The "Plot" window once shown (null before).
    PlotWindow *plotWindow() const;

    // The clock the receive path and the indicator read; tests pin it.
    void setClock(std::function<QDateTime()> clock);
    // Errors that reach the window: shown without blocking, one box at a time.
    void reportError(const QString &text);
    // The text of the error box currently shown (empty when none); for tests.
    QString shownError() const;

    // Where the port menu finds the attached devices; the system's list by default.
    void setDeviceDiscovery(std::unique_ptr<DeviceDiscovery> discovery);
    // Asks the operator for a network port URL for port n (current: what it is now);
    // nothing when cancelled. Tests answer it; by default a modal input dialog.
    using NetworkUrlPrompt =
        std::function<std::optional<QString>(QWidget *owner, int port, const QString &current)>;
    void setNetworkUrlPrompt(NetworkUrlPrompt prompt);
    // Builds the port menu (COM 1 to 9, what each maps to, map, remove, network port) and
    // shows it at globalPos without waiting; it deletes itself when closed.
    QMenu *showPortMenu(const QPoint &globalPos);
    // Where "Send file" asks for the file; Qt's open-file dialog by default.
    void setOpenDialog(std::unique_ptr<OpenDialog> dialog);
    // "Repeating every 100 ms: 12 of 50 sent" while a repeat runs; empty otherwise.
    QString repeatStatus() const;
    // The "Sending file" window once shown (null before).
    SendFileWindow *sendFileWindow() const;

public Q_SLOTS:
    // Handlers, named by control and event.
    void com_Close_Click();
    void cmd_reset_Click();
    void cbo_Port_Click();
    void lblfield_Click(qint16 Index);
    void MSComm1_OnComm();
    void Timer1_Timer();
    void cbo_APP_Click();
    void cmd_Send_Click();
    void chk_file_Click();
    void lbl_filename_Change();
    // Ctrl+I and the "Rec" indicator's context menu: the non-modal statistics window.
    void showLineStatistics();
    // Ctrl+G and the received data pane's context menu: the non-modal "Plot" window.
    void showPlot();
    // Lending the port to another program (SIGUSR2 / SIGUSR1, app/porthandoff.h): closes
    // it and says so once; opens it again with the settings in force. Capture goes on.
    void releasePortOnRequest();
    void retakePortOnRequest();
    // transmit/: Ctrl+R in the command box asks for a period and count and repeats the
    // command; Escape there stops it. Ctrl+O asks for a file and sends it.
    void showRepeatDialog();
    void stopRepeating();
    void showSendFile();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // app/
    void buildLayout();
    void Form_Load();
    void Form_Unload();
    int twips(int value) const;
    // Sets a label's text only when it changes: each change is an event for a screen
    // reader, which pays per event.
    static void setLabelText(QLabel *label, const QString &text);

    // port/
    void setupPort();
    // settings: the text to apply; the Settings box's text when none.
    void OpenPort(const PortArgument &port, const std::optional<QString> &settings = {});
    // Returns false at the first failed read; rows from there keep their text.
    bool RefreshPropertyPanel();

    // port/, devices: the port menu, tooltips and re-opening after a replug
    void setupDevices();
    // What the port in use maps to and why it failed, for the tooltips; recomputed when the
    // port or its state changed, or always when fresh.
    QString portHint(bool fresh);
    void updatePortTips(bool fresh);
    // The operator changed port n's mapping: error is empty when it was written.
    void mappingChanged(int port, const QString &error);
    void mapPort(int port, const QString &linkTarget);
    void unmapPort(int port);
    void mapNetworkPort(int port);
    // At each Timer1 tick: re-opens a lost port once its device is back.
    void replugTick();
    // Whether a connection to the server of url has succeeded since the last call; starts
    // one in the background when none is under way.
    bool networkServerAnswers(const QString &url);

    // receive/
    void setupReceive();
    // Whether a trickle is read once per screen round (SerialControl::setReadPace).
    void paceReads();
    void setupStatistics();
    // The "Rec" tooltip and the statistics window from the counts; Timer1 samples the rate first.
    void refreshStatistics();
    // Counts start again: at each opening of the port and from the window's "Reset".
    void resetStatistics();
    QByteArray StripFrame(const QByteArray &s) const;
    void FlushFrame();
    // Refreshes the property panel once the current burst of received characters is done.
    void schedulePanelRefresh();
    // The line-mode record prefix for an event at now, as handed to WriteToFile.
    QByteArray linePrefix(qint64 nowMs);
    // Writes the frame under way, grown to its longest length, as a record of its own;
    // tells the operator once per such frame.
    void cutFrame(const QByteArray &Prefix);
    // A read of the serial control failed while receiving: tells the operator once.
    void receiveFailed(const QString &member);

    // transmit/: the command box, its history, repeat and file sending
    void setupTransmit();
    void setupRepeat();
    void setupSendFile();
    // Ends a repeat and a file send. why: for the operator; a fault is told once, a stop by
    // the operator (or by the port opening again) is not.
    void stopSending(const QString &why, bool fault);
    void startRepeat(int periodMs, int count);
    // The command box's text as bytes (angle codes decoded when on); nullopt after telling
    // why it cannot be sent.
    std::optional<QByteArray> commandBoxBytes(const QString &command);
    void repeatTick();
    void showRepeatStatus();

    // capture/
    void setupCapture();
    // Sets lbl_filename's caption and runs its change handler, as a caption change does.
    void setFilenameCaption(const QString &text);

    // plot/
    void setupPlot();
    // Hands the finished frame in FrameBuffer to the plot; called only while it exists.
    void plotFrame(qint64 nowMs);

    // --- Serial control, dialogs, timer
    std::unique_ptr<SerialControl> MSComm1;
    std::unique_ptr<SaveDialog> CommonDialog1;
    std::unique_ptr<OptionsPrompt> m_optionsPrompt;
    QTimer *Timer1 = nullptr;
    // Milliseconds since the epoch; read once per received character, so no QDateTime.
    std::function<qint64()> m_clock;
    QMessageBox *m_errorBox = nullptr;

    // --- State fields (creation values)
    QByteArray FrameBuffer;
    // CaptureEnabled, FileSystem, CaptureStream, SourceString and IncludeTimestamp
    CaptureSession m_capture;
    bool LineMode = false;
    qint64 LastReceiveTime = 0; // ms since the epoch

    // --- Controls
    QLabel *Label1 = nullptr;
    QLabel *Image1 = nullptr;
    QFrame *Line1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QGroupBox *Frame4 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label12 = nullptr;
    QLabel *Label13 = nullptr;
    LedShape *LED_std = nullptr;
    LedShape *LED_data = nullptr;
    QPushButton *cmd_reset = nullptr;
    QComboBox *cbo_Port = nullptr;
    QLineEdit *txt_Settings = nullptr;
    std::array<ClickLabel *, PropertyPanel::kNameCount> lblfield{}; // index 4 does not exist
    std::array<QLabel *, PropertyPanel::kRowCount> lbl_val{};
    QPlainTextEdit *txt_in = nullptr;
    LineView *txt_out = nullptr;
    LineView *txt_bffr = nullptr;
    QPushButton *com_Close = nullptr;
    QCheckBox *chk_file = nullptr;
    QLabel *lbl_filename = nullptr;
    QComboBox *cbo_APP = nullptr;
    QCheckBox *chk_CollectData = nullptr;
    QLineEdit *txt_send = nullptr;
    QPushButton *cmd_Send = nullptr;
    QComboBox *cbo_SuffixCommand = nullptr;

    // --- Subsystem working state (each subsystem adds its own below its heading)
    // app/
    bool m_releasedOnRequest = false; // closed by releasePortOnRequest and not opened since
    // port/
    std::unique_ptr<DeviceDiscovery> m_discovery;
    NetworkUrlPrompt m_networkUrlPrompt;
    ReplugWatch m_replug;
    // A lost network port's server, asked without blocking before the re-open is tried.
    QTcpSocket *m_replugProbe = nullptr;
    bool m_replugServerUp = false;
    QDeadlineTimer m_replugProbeDeadline;
    QString m_portDevice;   // the device the port was last opened on
    QString m_mappingError; // the last failed mapping change; cleared by one that works
    struct HintKey
    {
        int port = -2;
        int open = -2;
        QString error;
        QString mappingError;
        bool operator==(const HintKey &) const = default;
    };
    HintKey m_hintKey; // the port state m_hint was computed for
    QString m_hint;    // the port's tooltip
    // receive/
    bool m_panelRefreshFailed = false; // reported; cleared by the next refresh that works
    bool m_receiveFailed = false;      // reported; cleared by the next read that works
    bool m_frameCut = false;           // the frame under way was cut at its longest length
    QByteArray m_logLine;              // the buffer log line, reused per character
    bool m_lineFeedEndsFrame = false;  // the profile list's text is "Houillon"
    qint64 m_stampSecond = 0;          // the second m_stampText shows
    QString m_stampText;               // general date text for the record prefix
    LineStatistics m_stats;            // counts since the port last opened
    QPointer<LineStatisticsWindow> m_statsWindow;
    // transmit/
    QAction *m_angleCodes = nullptr; // "Codes in angle brackets", off at start
    qint16 m_sendPort = 4; // last port number read; 4 is what start-up opens when unreadable
    // capture/: the session m_capture above

    // --- receive/, find and save in the panes (form_comm_panes.cpp)
    void setupPanes();
    // The pane that has the focus, or the received data pane when neither has it.
    LineView *focusedPane() const;
    // Asks for a file and writes the pane's lines to it; a failure is reported once.
    void savePane(LineView *pane);

    // --- transmit/: command history, repeated sending, file sending
    CommandHistory m_history;
    std::optional<RepeatSchedule> m_repeat; // while a repeat runs
    QByteArray m_repeatCommand;             // its bytes before the suffix
    QString m_repeatText;                   // as typed, for the history
    QTimer *m_repeatTimer = nullptr;
    int m_repeatPeriodMs = 1000; // what the dialog offers next
    int m_repeatCount = 0;
    QString m_sendTip; // the command box's tooltip when nothing repeats
    QAction *m_repeatAction = nullptr;
    QAction *m_stopRepeatAction = nullptr;
    QAction *m_sendFileAction = nullptr;
    std::unique_ptr<OpenDialog> m_openDialog;
    FileSender *m_fileSender = nullptr;
    QPointer<SendFileWindow> m_sendFileWindow;

    // --- plot/ (form_comm_plot.cpp)
    // null until first shown, so the receive path pays one test per frame before
    PlotWindow *m_plot = nullptr;
};
