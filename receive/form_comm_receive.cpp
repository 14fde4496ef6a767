// Receive handling, frame assembly, the activity indicator and the instrument profiles of
// the monitor window.
#include "app/form_comm.h"
#include "app/ledshape.h"
#include "port/serialcontrol.h"
#include "receive/lineview.h"
#include "receive/receiverules.h"
#include "receive/screenpace.h"

#include <QAction>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QLocale>
#include <QTimer>

#include <ctime>

void Form_Comm::setupReceive()
{
    // Read once per received character: local time costs microseconds per reading, the
    // precise clock tens of nanoseconds; the coarse clock (a few milliseconds' resolution)
    // is enough for whole-second figures. Local time is worked out only where a time is
    // shown.
    m_clock = [] {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME_COARSE, &ts);
        return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    };

    // Bounded, so a long session cannot exhaust memory; the capture file is not.
    txt_bffr->setMaxLines(100000);
    txt_out->setMaxLines(10000);

    // Times: one switch for both panes, from Ctrl+T anywhere in the window or either pane's
    // context menu.
    auto *times = new QAction(QStringLiteral("Show times"), this);
    times->setObjectName(QStringLiteral("showTimes"));
    times->setCheckable(true);
    times->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    times->setShortcutContext(Qt::WindowShortcut);
    addAction(times);
    paceReads();
    connect(times, &QAction::toggled, this, [this](bool on) {
        txt_out->setTimesShown(on);
        txt_bffr->setTimesShown(on);
        paceReads();
    });
    for (LineView *pane : {txt_out, txt_bffr})
        connect(pane, &LineView::timesShownChanged, times, &QAction::setChecked);

    connect(MSComm1.get(), &SerialControl::OnComm, this, &Form_Comm::MSComm1_OnComm);
    connect(MSComm1.get(), &SerialControl::passEnded, this, &Form_Comm::flushCapture);
    // The frame-end rule follows the list's text, kept here rather than read from the
    // list per character; every change of the text, from code too, passes through this.
    m_lineFeedEndsFrame = frameEndRuleFor(cbo_APP->currentText()) == FrameEndRule::LineFeed;
    connect(cbo_APP, &QComboBox::currentTextChanged, this, [this](const QString &text) {
        m_lineFeedEndsFrame = frameEndRuleFor(text) == FrameEndRule::LineFeed;
    });
    // activated: an operator pick, also of the entry already shown (which repeats it);
    // selections made from code call the handler themselves.
    connect(cbo_APP, &QComboBox::activated, this, [this](int) { cbo_APP_Click(); });
}

void Form_Comm::paceReads()
{
    // A trickle's reads wait for the next update, which shows them: the program wakes once
    // per screen frame instead of once per read. Characters are then timed up to a frame
    // late, so not while their times are shown (the panes' times, the plot); nor in a
    // flood, whose rounds are further apart, so that reading keeps pace with the data.
    if (txt_out->timesShown() || m_plot) {
        MSComm1->setReadPace(0, {});
        return;
    }
    SerialControl *control = MSComm1.get();
    MSComm1->setReadPace(ScreenPace::kFrameMs, [control](std::function<void()> resume) {
        ScreenPace &pace = ScreenPace::instance();
        if (pace.busy())
            return false;
        pace.request(control, std::move(resume), ScreenPace::First);
        return true;
    });
}

void Form_Comm::MSComm1_OnComm()
{
    if (!chk_CollectData->isChecked())
        return; // the characters wait in the serial control
    const qint64 nowMs = m_clock();
    LastReceiveTime = nowMs;

    if (LineMode) {
        const std::optional<QByteArray> sChar = MSComm1->Input();
        if (!sChar) {
            receiveFailed(QStringLiteral("Input"));
            return;
        }
        m_receiveFailed = false;
        if (!sChar->isEmpty()) {
            m_stats.noteReceived(nowMs, sChar->size());
            txt_out->appendText(*sChar, nowMs);
        }
        if (Read_buffer(*sChar)) {
            m_frameCut = false;
            WriteToFile(linePrefix(nowMs), FrameBuffer);
            if (m_plot)
                plotFrame(nowMs);
            FrameBuffer.resize(0); // keeps the storage for the next frame
        } else if (FrameBuffer.size() >= kMaxFrameLength) {
            cutFrame(linePrefix(nowMs));
        }
        return;
    }

    // The event kind is asked first: a modem-line event must not take a waiting character
    // out of the buffer, or that character would be lost.
    const std::optional<qint16> event = MSComm1->CommEvent();
    if (!event) {
        receiveFailed(QStringLiteral("CommEvent"));
        return;
    }
    if (*event != CommEvents::Receive)
        return;
    const std::optional<QByteArray> sChar = MSComm1->Input();
    if (!sChar) {
        receiveFailed(QStringLiteral("Input"));
        return;
    }
    m_receiveFailed = false;
    if (!sChar->isEmpty())
        m_stats.noteReceived(nowMs, sChar->size());
    if (Read_buffer(*sChar)) {
        m_frameCut = false;
        txt_out->prependLine(StripFrame(FrameBuffer), nowMs);
        if (m_plot)
            plotFrame(nowMs);
        FlushFrame();
    } else if (FrameBuffer.size() >= kMaxFrameLength) {
        // Not a frame: written, but not shown as one.
        cutFrame(QByteArray());
        schedulePanelRefresh();
    }
}

bool Form_Comm::Read_buffer(const QByteArray &sChar)
{
    FrameBuffer += sChar;
    if (sChar.isEmpty())
        return false;
    const char c = sChar.at(0);
    formatBufferLogLine(m_logLine, FrameBuffer.size(), c);
    txt_bffr->appendLine(m_logLine, LastReceiveTime);
    const bool ends =
        endsFrame(m_lineFeedEndsFrame ? FrameEndRule::LineFeed : FrameEndRule::Standard, uchar(c));
    m_stats.noteFrames(ends);
    return ends;
}

QByteArray Form_Comm::StripFrame(const QByteArray &s) const
{
    return stripFrame(s);
}

void Form_Comm::FlushFrame()
{
    WriteToFile(QByteArray(), FrameBuffer);
    // Cleared also after a failed write: that write has ended capture and told the
    // operator, and a frame kept here would run into the next one.
    FrameBuffer.resize(0);
    schedulePanelRefresh();
}

void Form_Comm::Timer1_Timer()
{
    const qint64 now = m_clock();
    const bool active = showsActivity(wholeSecondsBetween(LastReceiveTime, now));
    LED_data->setFillColor(active ? QColor(0, 255, 0) : QColor(Qt::red));
    m_stats.tick(now);
    refreshStatistics();
}

void Form_Comm::cbo_APP_Click()
{
    LineMode = isLineModeProfile(cbo_APP->currentText());
    if (cbo_APP->currentText() == u"Analex PQM") {
        const int n = cbo_SuffixCommand->count();
        for (int i = 1; i < n; ++i) {
            if (cbo_SuffixCommand->itemText(i) == u"<STX>/<EOT>") {
                cbo_SuffixCommand->setCurrentIndex(i);
                break;
            }
        }
        cmd_reset_Click();
    } else {
        cbo_SuffixCommand->setCurrentIndex(0);
    }
}

void Form_Comm::schedulePanelRefresh()
{
    // Once per burst of received characters rather than per frame, and at most once per
    // frame of the screen, in the panes' round: the panel is current when the burst is done
    // and never more than one screen frame behind, and an instrument that sends in many
    // small writes costs a panel read per screen frame instead of one per write.
    ScreenPace::instance().request(this, [this] {
        if (RefreshPropertyPanel()) {
            m_panelRefreshFailed = false;
        } else if (!m_panelRefreshFailed) {
            m_panelRefreshFailed = true; // once, until a refresh works again
            reportError(
                QStringLiteral("The property panel could not be refreshed after a frame: ") +
                MSComm1->lastError());
        }
    });
}

QByteArray Form_Comm::linePrefix(qint64 nowMs)
{
    QString dateText;
    if (m_capture.includeTimestamp()) {
        // Formatting a date is slow next to a character's work; the text changes once a
        // second at most.
        const qint64 second = wholeSecondsBetween(0, nowMs);
        if (second != m_stampSecond || m_stampText.isEmpty()) {
            m_stampText = generalDateText(QDateTime::fromMSecsSinceEpoch(nowMs), QLocale());
            m_stampSecond = second;
        }
        dateText = m_stampText;
    }
    return recordPrefix(dateText, m_capture.sourceString());
}

void Form_Comm::cutFrame(const QByteArray &Prefix)
{
    // A record leaves out its frame's last character (normally the end character), so the
    // last character starts the next piece: the pieces' records together hold every
    // character received.
    WriteToFile(Prefix, FrameBuffer);
    const char last = FrameBuffer.back();
    FrameBuffer.resize(1);
    FrameBuffer[0] = last;
    if (m_frameCut)
        return;
    m_frameCut = true; // told once per overlong frame
    reportError(QStringLiteral("A frame grew to %1 characters without an end character. It is "
                               "written to the capture file in pieces of that length, each as a "
                               "record of its own; each piece's last character starts the next.")
                    .arg(kMaxFrameLength));
}

void Form_Comm::receiveFailed(const QString &member)
{
    if (m_receiveFailed)
        return;
    m_receiveFailed = true; // once, until a read works again
    reportError(QStringLiteral("Received characters could not be read (%1): %2")
                    .arg(member, MSComm1->lastError()));
}
