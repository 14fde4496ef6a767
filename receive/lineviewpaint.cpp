// Drawing a LineView: the font tables that make measuring a lookup per byte, and painting
// the visible lines with their times, selection and boxed control codes.
#include "receive/lineview.h"
#include "receive/vectorstate.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal kBoxPad = 1.5;

// Control codes get a boxed name rather than a glyph: fonts differ in what they hold for
// them (most have no control pictures) and a missing-glyph box looks the same for all.
bool boxed(uchar b)
{
    return b < 32 || (b >= 127 && b < 160);
}

const QString &boxLabel(uchar b)
{
    static const std::array<QString, 256> labels = [] {
        static const char *const names[32] = {
            "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
            "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
            "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
        std::array<QString, 256> l;
        for (int i = 0; i < 32; ++i)
            l[size_t(i)] = QLatin1String(names[i]);
        l[127] = QStringLiteral("DEL");
        for (int i = 128; i < 160; ++i)
            l[size_t(i)] = QLatin1Char('x') + QString::number(i, 16).toUpper();
        return l;
    }();
    return labels[b];
}

QChar displayChar(uchar b)
{
    if (b == 0xAD)
        return QLatin1Char('-'); // a soft hyphen would be drawn with no width
    return QChar(char16_t(b));
}

// Bytes as table indexes.
const uchar *udata(QByteArrayView bytes)
{
    return reinterpret_cast<const uchar *>(bytes.data());
}

} // namespace

void LineView::updateFontTables()
{
    // Without kerning or shaping a line's advance is the sum of its characters', which
    // makes measuring, hit testing and selection a table lookup per byte.
    m_rowImages.clear();
    m_paintFont = font();
    m_paintFont.setKerning(false);
    m_paintFont.setStyleStrategy(
        QFont::StyleStrategy(m_paintFont.styleStrategy() | QFont::PreferNoShaping));
    const QFontMetricsF fm(m_paintFont, viewport());
    m_labelFont = m_paintFont;
    if (m_labelFont.pointSizeF() > 0)
        m_labelFont.setPointSizeF(std::max(5.0, m_labelFont.pointSizeF() * 0.7));
    else
        m_labelFont.setPixelSize(std::max(6, m_labelFont.pixelSize() * 7 / 10));
    const QFontMetricsF lm(m_labelFont, viewport());
    m_labelAscent = lm.ascent();
    m_labelHeight = lm.height();
    for (int b = 0; b < 256; ++b) {
        const auto i = size_t(b);
        m_boxed[i] = boxed(uchar(b));
        m_glyph[i] = displayChar(uchar(b));
        m_advance[i] = m_boxed[i]
                           ? std::ceil(lm.horizontalAdvance(boxLabel(uchar(b))) + 2 * kBoxPad + 2)
                           : fm.horizontalAdvance(m_glyph[i]);
    }
    // Resolved for the viewport, as the painter resolves the font it draws with there.
    m_rawFont = QRawFont::fromFont(QFont(m_paintFont, viewport()));
    m_glyphIndex.fill(0);
    if (m_rawFont.isValid()) {
        for (int b = 0; b < 256; ++b) {
            const auto i = size_t(b);
            if (m_boxed[i])
                continue;
            quint32 glyph = 0;
            int count = 1;
            if (m_rawFont.glyphIndexesForChars(&m_glyph[i], 1, &glyph, &count) && count == 1)
                m_glyphIndex[i] = glyph;
        }
    }
    m_timeWidth = fm.horizontalAdvance(QStringLiteral("00:00:00.000")) + 2 * m_advance[' '];
    const QFontMetrics im(m_paintFont, viewport());
    m_lineHeight = std::max(1, im.lineSpacing());
    m_ascent = im.ascent();
}

// ---------------------------------------------------------------------------------------
// Painting

void LineView::drawBytes(QPainter &p, qreal x, int y, QByteArrayView bytes, qsizetype from,
                         qsizetype to, const QColor &color, const QColor &boxText) const
{
    const uchar *d = udata(bytes);
    QString run;
    qsizetype c = from;
    while (c < to) {
        qsizetype e = c;
        qreal w = 0;
        while (e < to && !m_boxed[d[e]]) {
            w += m_advance[d[e]];
            ++e;
        }
        if (e > c) {
            p.setPen(color);
            // The font's glyphs at the advances that measuring and hit testing use: laying
            // the text out again cost more than the rest of a row's drawing.
            bool own = true;
            for (qsizetype k = c; k < e && own; ++k)
                own = m_glyphIndex[d[k]] != 0;
            if (own) {
                QList<quint32> glyphs(e - c);
                QList<QPointF> positions(e - c);
                qreal at = 0;
                for (qsizetype k = c; k < e; ++k) {
                    glyphs[k - c] = m_glyphIndex[d[k]];
                    positions[k - c] = QPointF(at, 0);
                    at += m_advance[d[k]];
                }
                QGlyphRun glyphRun;
                glyphRun.setRawFont(m_rawFont);
                glyphRun.setGlyphIndexes(glyphs);
                glyphRun.setPositions(positions);
                p.drawGlyphRun(QPointF(x, y + m_ascent), glyphRun);
            } else {
                run.resize(e - c);
                for (qsizetype k = c; k < e; ++k)
                    run[k - c] = m_glyph[d[k]];
                p.drawText(QPointF(x, y + m_ascent), run);
            }
            x += w;
            c = e;
            continue;
        }
        const qreal a = m_advance[d[c]];
        const qreal top = y + (m_lineHeight - m_labelHeight) / 2.0;
        const QRectF box(x + 1, top, a - 2, m_labelHeight);
        QColor fill = color;
        fill.setAlphaF(0.6f);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(box, 2, 2);
        p.setBrush(Qt::NoBrush);
        p.setPen(boxText);
        p.setFont(m_labelFont);
        p.drawText(QPointF(box.left() + kBoxPad, top + m_labelAscent), boxLabel(d[c]));
        p.setFont(m_paintFont);
        x += a;
        ++c;
    }
}

const QImage *LineView::rowImage(QByteArrayView bytes, qreal x, qreal dpr, qreal *left)
{
    // Room either side, in device pixels, for what a glyph draws beyond its advance.
    constexpr int kPad = 3;
    constexpr qreal kMaxWidth = 4096;
    // The image lands on whole device pixels; the text in it keeps the fraction of one it
    // has on the pane, as glyphs may be placed at fractions of a pixel. Both are the same
    // for every row until the times are shown or the window moves to another screen.
    const qreal whole = std::floor(x * dpr);
    const qreal fraction = x * dpr - whole;
    if (fraction != m_rowImagesFraction || dpr != m_rowImagesRatio) {
        m_rowImages.clear();
        m_rowImagesFraction = fraction;
        m_rowImagesRatio = dpr;
    }
    *left = (whole - kPad) / dpr;
    if (const QImage *image =
            m_rowImages.object(QByteArray::fromRawData(bytes.data(), bytes.size()))) {
        ++m_rowImageUse.used;
        return image;
    }
    constexpr size_t kSeenSlots = 4096;
    if (m_rowsSeen.size() != kSeenSlots)
        m_rowsSeen.assign(kSeenSlots, 0);
    const size_t hash = qHash(bytes);
    if (size_t &seen = m_rowsSeen[hash % kSeenSlots]; seen != hash) {
        seen = hash;
        return nullptr;
    }
    const uchar *d = udata(bytes);
    qreal w = 0;
    for (qsizetype k = 0; k < bytes.size() && w <= kMaxWidth; ++k)
        w += m_advance[d[k]];
    if (w > kMaxWidth)
        return nullptr;
    const QSize size(int(std::ceil(w * dpr)) + 2 * kPad + 1, int(std::ceil(m_lineHeight * dpr)));
    // Drawn on a scratch image whose painter stays open (starting a painter costs more than
    // drawing a row), then copied out at the row's size. Fonts resolve on it to the pixel
    // size they have on the pane (a device's dpi is a whole number, so setting it through
    // dots per metre is exact).
    const int dpiX = viewport()->logicalDpiX();
    const int dpiY = viewport()->logicalDpiY();
    if (!m_rowPainter || m_rowScratch.width() < size.width() ||
        m_rowScratch.height() < size.height() || m_rowScratch.devicePixelRatio() != dpr ||
        m_rowScratch.logicalDpiX() != dpiX || m_rowScratch.logicalDpiY() != dpiY) {
        m_rowPainter.reset();
        m_rowScratch = QImage(size.expandedTo(m_rowScratch.size()), QImage::Format_RGB32);
        m_rowScratch.setDevicePixelRatio(dpr);
        m_rowScratch.setDotsPerMeterX(qRound(dpiX / 0.0254));
        m_rowScratch.setDotsPerMeterY(qRound(dpiY / 0.0254));
        m_rowPainter = std::make_unique<QPainter>(&m_rowScratch);
    }
    const QPalette &pal = palette();
    QPainter &ip = *m_rowPainter;
    ip.fillRect(QRectF(QPointF(0, 0), QSizeF(size) / dpr), pal.color(QPalette::Base));
    ip.setFont(m_paintFont);
    drawBytes(ip, (kPad + fraction) / dpr, 0, bytes, 0, bytes.size(), pal.color(QPalette::Text),
              pal.color(QPalette::Base));
    ++m_rowImageUse.made;
    auto *image = new QImage(m_rowScratch.copy(QRect(QPoint(0, 0), size)));
    if (!m_rowImages.insert(bytes.toByteArray(), image,
                            qsizetype(size.width()) * size.height() * 4))
        return nullptr;
    return image; // insert keeps it, or deleted it and said so
}

void LineView::paintEvent(QPaintEvent *event)
{
    QPainter p(viewport());
    p.setFont(m_paintFont);
    const QRect clip = event->rect();
    const QPalette &pal = palette();
    const QColor textColor = pal.color(QPalette::Text);
    const QColor highlight = pal.color(QPalette::Highlight);
    const QColor highlightedText = pal.color(QPalette::HighlightedText);
    const QColor base = pal.color(QPalette::Base);
    const QBrush &background = pal.brush(QPalette::Base);
    const QColor dim = pal.color(QPalette::PlaceholderText);
    const qreal hx = horizontalScrollBar()->value();
    const qreal right = clip.right() + 1;
    const qsizetype top = topIndex();
    const qsizetype n = lineCount();
    const qreal dpr = viewport()->devicePixelRatioF();
    constexpr int kImagesLooked = 64;
    constexpr int kPausePaints = 32;
    if (m_rowImageUse.made >= kImagesLooked) {
        m_rowImageUse.pausedPaints = m_rowImageUse.used * 2 < m_rowImageUse.made ? kPausePaints : 0;
        m_rowImageUse.made = m_rowImageUse.used = 0;
    }
    const bool useImages = m_rowImageUse.pausedPaints == 0;
    if (!useImages)
        --m_rowImageUse.pausedPaints;

    Pos s = m_store.clamp(m_anchor);
    Pos e = m_store.clamp(m_cursor);
    if (e.seq < s.seq || (e.seq == s.seq && e.col < s.col))
        std::swap(s, e);
    const bool selecting = s.seq != e.seq || s.col != e.col;

    // The pane paints its own background (the viewport is opaque), row by row, around
    // what a row's image covers; a plain colour on whole pixels (the edges are) takes the
    // painter's shortest way.
    const bool plain =
        background.style() == Qt::SolidPattern && background.transform().isIdentity();
    auto fillRow = [&](int y, qreal from, qreal to) {
        if (to <= from)
            return;
        if (plain && from == std::floor(from) && to == std::floor(to))
            p.fillRect(QRect(int(from), y, int(to - from), m_lineHeight), base);
        else
            p.fillRect(QRectF(from, y, to - from, m_lineHeight), background);
    };
    // A row painted whole, without marks, is known to show its line until it changes.
    const QRegion &region = event->region();
    const int textWidth = textArea().width();
    auto paintedWhole = [&](int y) {
        const QRect r = QRect(0, y, textWidth, m_lineHeight) & viewport()->rect();
        return region.rectCount() == 1 ? clip.contains(r) : (region & r) == QRegion(r);
    };
    for (int row = clip.top() / m_lineHeight; row <= clip.bottom() / m_lineHeight; ++row) {
        const qsizetype i = top + row;
        const int y = row * m_lineHeight;
        const bool notice = (i == -1 && topNoticeRows()) || (i == n && bottomNoticeRows());
        const qint64 seq = m_store.frontSeq() + i;
        const bool selected = selecting && i >= 0 && i < n && seq >= s.seq && seq <= e.seq;
        const bool marked = selected || !m_highlight.isEmpty();
        // The rows between changed ones are inside the paint's bounds but not its region:
        // what the screen shows of them stays, and so does what they are known to show.
        if (region.rectCount() > 1 &&
            !region.intersects(QRect(clip.left(), y, clip.width(), m_lineHeight)))
            continue;
        noteRowPainted(row, i, !notice && !marked && paintedWhole(y));
        if (i < 0 || i >= n) {
            fillRow(y, clip.left(), right);
            clearUpperVectorState();
            if (notice) {
                QFont f = m_paintFont;
                f.setItalic(true);
                p.setFont(f);
                p.setPen(pal.color(QPalette::PlaceholderText));
                p.drawText(QPointF(kMargin, y + m_ascent), droppedNotice());
                p.setFont(m_paintFont);
            }
            continue;
        }
        const QByteArrayView l = m_store.lineBytes(i);
        const uchar *d = udata(l);
        qreal imageLeft = 0;
        const QImage *image =
            marked || !useImages ? nullptr : rowImage(l, textLeft() - hx, dpr, &imageLeft);
        if (image) {
            const qreal imageRight = imageLeft + image->width() / dpr;
            fillRow(y, clip.left(), std::min(imageLeft, right));
            fillRow(y, std::max<qreal>(imageRight, clip.left()), right);
        } else {
            fillRow(y, clip.left(), right);
        }
        if (timesShown() && kMargin - hx + m_timeWidth > clip.left()) {
            p.setPen(dim);
            p.drawText(QPointF(kMargin - hx, y + m_ascent),
                       LineStore::timeText(m_store.lineTime(i)));
        }
        if (image) {
            p.drawImage(QPointF(imageLeft, y), *image);
            clearUpperVectorState(); // after the fills
            continue;
        }
        // Skip what lies left of the view, then gather what fits.
        qreal x = textLeft() - hx;
        qsizetype c0 = 0;
        while (c0 < l.size() && x + m_advance[d[c0]] < clip.left()) {
            x += m_advance[d[c0]];
            ++c0;
        }
        qsizetype c1 = c0;
        qreal xEnd = x;
        while (c1 < l.size() && xEnd < right) {
            xEnd += m_advance[d[c1]];
            ++c1;
        }

        qsizetype s0 = 0;
        qsizetype s1 = 0;
        if (selected) {
            s0 = seq == s.seq ? s.col : 0;
            s1 = seq == e.seq ? e.col : l.size();
        }
        const qsizetype a = std::clamp(s0, c0, c1);
        const qsizetype b = std::clamp(s1, c0, c1);
        qreal xa = x;
        for (qsizetype c = c0; c < a; ++c)
            xa += m_advance[d[c]];
        qreal xb = xa;
        for (qsizetype c = a; c < b; ++c)
            xb += m_advance[d[c]];
        if (!m_highlight.isEmpty())
            paintMatches(p, i, y, x, c0);
        if (b > a)
            p.fillRect(QRectF(xa, y, xb - xa, m_lineHeight), highlight);
        // The selected line break shows as a space-wide mark at the line's end.
        if (selecting && seq >= s.seq && seq < e.seq && !m_store.joinsNext(i) && c1 == l.size())
            p.fillRect(QRectF(xEnd, y, m_advance[uchar(' ')], m_lineHeight), highlight);
        drawBytes(p, x, y, l, c0, a, textColor, base);
        drawBytes(p, xa, y, l, a, b, highlightedText, highlight);
        drawBytes(p, xb, y, l, b, c1, textColor, base);
        clearUpperVectorState();
    }
    p.end();
    clearUpperVectorState();
    // A paint of the whole text area shows the rows as they are now; a paint of part of it
    // (rows that came into view, a selection) keeps what the rest shows only if it agrees.
    const qint64 topSeq = m_store.frontSeq() + top;
    const bool whole = region.rectCount() == 1 && clip.top() <= 0 && clip.left() <= 0 &&
                       clip.bottom() + 1 >= viewport()->height() &&
                       clip.right() + 1 >= textArea().width();
    if (whole)
        noteShown(topSeq, noticesInView());
    else if (topSeq != m_shown.topSeq || int(hx) != m_shown.hx)
        m_shown.valid = false;
}

void LineView::paintMatches(QPainter &p, qsizetype i, int y, qreal x, qsizetype c0)
{
    // Amber under the text, whatever the palette: the selection drawn over it stays the
    // one that shows which match is current.
    static const QColor kMatch(255, 190, 0, 130);
    const QList<LineFinder::Match> matches = m_highlight.matchesIn(m_store, i);
    if (matches.isEmpty())
        return;
    const qsizetype prefix = m_store.prefixLength();
    const QByteArrayView l = m_store.lineBytes(i);
    const uchar *d = udata(l);
    const qreal hx = horizontalScrollBar()->value();
    const QString time = prefix > 0 ? LineStore::timeText(m_store.lineTime(i)) : QString();
    const QFontMetricsF fm(m_paintFont, viewport());
    // x of column c of the line's text; columns come in order, so bytes are summed once.
    qsizetype col = c0;
    qreal xCol = x;
    auto xOf = [&](qsizetype c) -> qreal {
        if (c < prefix)
            return kMargin - hx + fm.horizontalAdvance(time.first(std::min(c, time.size())));
        c -= prefix;
        if (c < col) {
            col = 0;
            xCol = textLeft() - hx;
        }
        for (; col < c && col < l.size(); ++col)
            xCol += m_advance[d[col]];
        return xCol;
    };
    const qreal right = viewport()->width();
    for (const LineFinder::Match &m : matches) {
        const qreal x0 = xOf(m.start);
        if (x0 > right)
            break;
        const qreal x1 = xOf(m.end);
        p.fillRect(QRectF(x0, y, std::max<qreal>(x1 - x0, 1), m_lineHeight), kMatch);
    }
}
