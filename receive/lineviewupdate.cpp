#include "receive/lineview.h"
#include "receive/screenpace.h"

#include <QRegion>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------------------
// Coalesced update

void LineView::scheduleFlush()
{
    if (m_flushPending)
        return;
    m_flushPending = true;
    ScreenPace::instance().request(this, [this] {
        m_flushPending = false; // the round's request is being served: nothing to cancel
        flush();
    });
}

void LineView::flushPending()
{
    flush();
    announce(true);
}

void LineView::flush()
{
    if (m_flushPending)
        ScreenPace::instance().cancel(this);
    m_flushPending = false;
    measurePending();
    updateScrollBars();
    announce(false);
    // Right of the widest line there is only background: lines coming and going leave it
    // as it is, so the update stops there (at the widest point any text was ever drawn
    // since, so a narrower pane after a clear still erases what was there).
    const int textRight = int(std::ceil(textLeft() - horizontalScrollBar()->value() + m_maxWidth +
                                        m_advance[uchar(' ')])) +
                          1;
    // The notices of dropped lines are as wide as their text: on screen, all of it updates.
    const bool notices = noticesInView();
    m_clearRight = std::max(m_clearRight, notices ? viewport()->width() : textRight);
    const qint64 topSeq = m_store.frontSeq() + topIndex();
    if (rowsKeepPixels(notices)) {
        moveShownRows(topSeq);
        updateChangedRows(topIndex());
    } else {
        viewport()->update(textArea());
    }
    noteShown(topSeq, notices);
}

void LineView::noteShown(qint64 topSeq, bool notices)
{
    m_shown = {!notices, topSeq, horizontalScrollBar()->value(), m_store.newestOnTop()};
}

bool LineView::noticesInView() const
{
    const qsizetype top = topIndex(); // the first row painted, as paintEvent counts them
    return (topNoticeRows() && top < 0) ||
           (bottomNoticeRows() && top + visibleRows() >= lineCount());
}

QRect LineView::textArea() const
{
    return QRect(0, 0, std::min(m_clearRight, viewport()->width()), viewport()->height());
}

bool LineView::rowsKeepPixels(bool notices) const
{
    return m_shown.valid && !notices && m_shown.hx == horizontalScrollBar()->value() &&
           m_shown.newestOnTop == m_store.newestOnTop() && !hasSelection() && m_highlight.isEmpty();
}

void LineView::moveShownRows(qint64 topSeq)
{
    const qint64 d = topSeq - m_shown.topSeq;
    if (d == 0 || std::abs(d) >= visibleRows())
        return;
    // The X server moves the rows on its side; what they show moves with them. Right of
    // the text there is only background, the same in every row: moving it would only
    // expose a strip as wide as the pane to be painted and sent again.
    viewport()->scroll(0, int(-d * m_lineHeight), textArea());
    const auto rows = qint64(m_rowKeys.size());
    if (d > 0) {
        for (qint64 r = 0; r < rows; ++r)
            m_rowKeys[size_t(r)] = r + d < rows ? std::move(m_rowKeys[size_t(r + d)]) : RowKey{};
    } else {
        for (qint64 r = rows - 1; r >= 0; --r)
            m_rowKeys[size_t(r)] = r + d >= 0 ? std::move(m_rowKeys[size_t(r + d)]) : RowKey{};
    }
}

void LineView::updateChangedRows(qsizetype top)
{
    const int height = viewport()->height();
    const int rows = (height + m_lineHeight - 1) / m_lineHeight;
    if (m_rowKeys.size() < size_t(rows))
        m_rowKeys.resize(size_t(rows));
    const qsizetype n = lineCount();
    const int width = textArea().width();
    int from = -1;       // the first of a run of changed rows
    QRegion changedRows; // one update: each costs the widget machinery its own round
    for (int r = 0; r <= rows; ++r) {
        bool changed = false;
        if (r < rows) {
            const RowKey &k = m_rowKeys[size_t(r)];
            const qsizetype i = top + r;
            const bool line = i >= 0 && i < n;
            changed = !k.valid || k.line != line ||
                      (line && (k.bytes != m_store.lineBytes(i) ||
                                (timesShown() && k.time != m_store.lineTime(i))));
        }
        if (changed && from < 0) {
            from = r;
        } else if (!changed && from >= 0) {
            changedRows += QRect(0, from * m_lineHeight, width, (r - from) * m_lineHeight);
            from = -1;
        }
    }
    if (!changedRows.isEmpty())
        viewport()->update(changedRows);
}

void LineView::noteRowPainted(int row, qsizetype i, bool plain)
{
    if (m_rowKeys.size() <= size_t(row))
        m_rowKeys.resize(size_t(row) + 1);
    RowKey &k = m_rowKeys[size_t(row)];
    // A long line (a frame of a megabyte) would cost a copy and a comparison as long at
    // every update; its row is drawn again each time, as all rows once were.
    constexpr qsizetype kMaxKeyBytes = 4096;
    k.valid = plain && (i < 0 || i >= lineCount() || m_store.lineBytes(i).size() <= kMaxKeyBytes);
    if (!k.valid)
        return;
    k.line = i >= 0 && i < lineCount();
    k.time = k.line ? m_store.lineTime(i) : 0;
    k.bytes.resize(0);
    if (k.line) {
        const QByteArrayView b = m_store.lineBytes(i);
        k.bytes.append(b.data(), b.size());
    }
}
