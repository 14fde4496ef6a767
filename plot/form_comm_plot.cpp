// The Plot window of the monitor window: Ctrl+G or the received data pane's context menu
// opens it; the receive path hands it each finished frame while it exists.
#include "app/form_comm.h"
#include "plot/plotwindow.h"
#include "receive/lineview.h"

#include <QAction>

void Form_Comm::setupPlot()
{
    auto *show = new QAction(QStringLiteral("Plot…"), this);
    show->setObjectName(QStringLiteral("act_plot"));
    show->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    show->setShortcutContext(Qt::WindowShortcut);
    connect(show, &QAction::triggered, this, &Form_Comm::showPlot);
    addAction(show);          // the shortcut works anywhere in the window
    txt_out->addAction(show); // and the received data pane's menu offers it
}

PlotWindow *Form_Comm::plotWindow() const
{
    return m_plot;
}

void Form_Comm::showPlot()
{
    if (!m_plot) {
        m_plot = new PlotWindow(CommonDialog1.get(), this);
        m_plot->setClock([this] { return m_clock(); });
        paceReads(); // frames are plotted at their times from now on
        // The frames still in the received data pane come first, oldest first, with their
        // times; a line still open is a frame not finished yet.
        const LineStore &pane = txt_out->store();
        const qsizetype n = pane.lineCount();
        for (qsizetype k = 0; k < n; ++k) {
            const qsizetype i = pane.newestOnTop() ? n - 1 - k : k;
            if (i == n - 1 && pane.lastOpen())
                continue;
            QByteArrayView line = pane.lineBytes(i);
            if (line.endsWith('\r'))
                line.chop(1);
            m_plot->takeFrame(line, pane.lineTime(i));
        }
    }
    m_plot->show();
    m_plot->raise();
    m_plot->activateWindow();
}

void Form_Comm::plotFrame(qint64 nowMs)
{
    // The characters of the frame's capture record: without the end character, and in
    // line mode without the CR before the LF.
    QByteArrayView frame(FrameBuffer);
    if (!frame.isEmpty())
        frame.chop(1);
    if (LineMode && frame.endsWith('\r'))
        frame.chop(1);
    m_plot->takeFrame(frame, nowMs);
}
