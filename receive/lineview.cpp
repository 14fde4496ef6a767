#include "receive/lineview.h"

#include <QPainter>
#include <QScrollBar>
#include <QTimer>

LineView::LineView(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

LineView::~LineView() = default;

void LineView::setMaxLines(qsizetype n)
{
    m_maxLines = n < 1 ? 1 : n;
    trim(false);
}

void LineView::appendLine(const QByteArray &line)
{
    m_lines.push_back(line);
    trim(true);
    scheduleRepaint();
}

void LineView::prependLine(const QByteArray &line)
{
    m_lines.push_front(line);
    trim(false);
    scheduleRepaint();
}

void LineView::appendText(const QByteArray &text)
{
    if (m_lines.empty())
        m_lines.emplace_back();
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            m_lines.back().append(text.constData() + start, i - start);
            m_lines.emplace_back();
            start = i + 1;
        }
    }
    m_lines.back().append(text.constData() + start, text.size() - start);
    trim(true);
    scheduleRepaint();
}

QString LineView::text() const
{
    QByteArray all;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (i)
            all += "\r\n";
        all += m_lines[i];
    }
    return QString::fromLatin1(all);
}

void LineView::clear()
{
    m_lines.clear();
    m_dropped = 0;
    scheduleRepaint();
}

void LineView::trim(bool fromTop)
{
    while (static_cast<qsizetype>(m_lines.size()) > m_maxLines) {
        if (fromTop)
            m_lines.pop_front();
        else
            m_lines.pop_back();
        ++m_dropped;
    }
}

void LineView::scheduleRepaint()
{
    if (m_repaintPending)
        return;
    m_repaintPending = true;
    QTimer::singleShot(40, this, [this] {
        m_repaintPending = false;
        const int lh = fontMetrics().height();
        const int visible = lh > 0 ? viewport()->height() / lh : 0;
        verticalScrollBar()->setRange(0, std::max<int>(0, int(m_lines.size()) - visible));
        viewport()->update();
    });
}
