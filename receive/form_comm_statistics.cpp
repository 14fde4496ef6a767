// Line statistics of the monitor window: counts kept by the receive, send and capture paths,
// shown in the "Rec" indicator's tooltip and in a non-modal window refreshed by Timer1.
#include "app/form_comm.h"
#include "app/ledshape.h"
#include "port/serialcontrol.h"
#include "receive/linestatisticswindow.h"

#include <QAction>
#include <QLabel>
#include <QShortcut>

void Form_Comm::setupStatistics()
{
    auto *show = new QAction(QStringLiteral("Line statistics…"), this);
    show->setObjectName(QStringLiteral("act_lineStatistics"));
    show->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    show->setShortcutContext(Qt::WindowShortcut);
    connect(show, &QAction::triggered, this, &Form_Comm::showLineStatistics);
    addAction(show); // the shortcut works anywhere in the window
    // The indicator and its caption both offer the window on a right-click.
    for (QWidget *w : {static_cast<QWidget *>(LED_data), static_cast<QWidget *>(Label12)}) {
        w->setContextMenuPolicy(Qt::ActionsContextMenu);
        w->addAction(show);
    }
    resetStatistics();
}

LineStatisticsWindow *Form_Comm::lineStatisticsWindow() const
{
    return m_statsWindow;
}

void Form_Comm::showLineStatistics()
{
    if (!m_statsWindow) {
        m_statsWindow = new LineStatisticsWindow(this);
        m_statsWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_statsWindow, &LineStatisticsWindow::resetRequested, this,
                &Form_Comm::resetStatistics);
    }
    m_statsWindow->show();
    refreshStatistics(); // fills a visible window only
    m_statsWindow->raise();
    m_statsWindow->activateWindow();
}

void Form_Comm::resetStatistics()
{
    m_stats.reset(m_clock(), MSComm1->errorCounters());
    refreshStatistics();
}

void Form_Comm::refreshStatistics()
{
    // A read that fails counts as a device without counters: one text, no error per tick.
    const std::optional<LineErrorCounts> errors =
        m_stats.errorsSinceReset(MSComm1->errorCounters());
    const QString tip = receiveIndicatorTip(m_stats, errors);
    if (LED_data->toolTip() != tip)
        LED_data->setToolTip(tip);
    if (m_statsWindow && m_statsWindow->isVisible()) {
        const QDateTime last = m_stats.lastReceiveMs() < 0
                                   ? QDateTime()
                                   : QDateTime::fromMSecsSinceEpoch(m_stats.lastReceiveMs());
        QList<StatisticsRow> rows = statisticsRows(m_stats, errors, last);
        rows.append({QStringLiteral("Command repeat"),
                     m_repeat ? m_repeat->statusText() : QStringLiteral("off")});
        m_statsWindow->showRows(rows);
    }
}
