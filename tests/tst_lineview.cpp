// The receive panes' view: what it holds, how it trims, what it copies, what assistive
// technology reads from it, and that a flood of lines costs a handful of repaints.
#include "receive/lineview.h"
#include "receive/screenpace.h"
#include "support/tables.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QImage>
#include <QMenu>
#include <QRandomGenerator>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using Ops = QByteArrayList; // each: 'A' appendLine, 'P' prependLine, 'T' appendText, then bytes

namespace {

void apply(LineView &v, const Ops &ops)
{
    for (const QByteArray &op : ops) {
        const QByteArray arg = op.mid(1);
        switch (op.at(0)) {
        case 'A':
            v.appendLine(arg);
            break;
        case 'P':
            v.prependLine(arg);
            break;
        case 'T':
            v.appendText(arg);
            break;
        default:
            QFAIL("unknown op");
        }
    }
}

QByteArrayList linesOf(const LineView &v)
{
    QByteArrayList out;
    for (qsizetype i = 0; i < v.lineCount(); ++i)
        out << v.line(i);
    return out;
}

QByteArray pattern(qsizetype n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char('a' + i % 26);
    return b;
}

// 14:03:05.100 local time on some day.
const qint64 kTime0 = QDateTime(QDate(2026, 12, 7), QTime(14, 3, 5, 100)).toMSecsSinceEpoch();

QPoint at(const LineView &v, qsizetype line, qsizetype column)
{
    return v.characterRect(line, column).center().toPoint();
}

// A shown view with a few known lines, scroll state settled.
std::unique_ptr<LineView> shownView(const QByteArrayList &lines)
{
    auto v = std::make_unique<LineView>();
    v->resize(320, 200);
    for (const QByteArray &l : lines)
        v->appendLine(l);
    v->show();
    if (!QTest::qWaitForWindowExposed(v.get()))
        return nullptr;
    v->flushPending();
    return v;
}

// One text change as a screen reader replays it: remove, then insert, at position.
struct Recorded
{
    QAccessible::Event type;
    int position;
    QString removed;
    QString inserted;
};
QList<Recorded> g_events;

void record(QAccessibleEvent *e)
{
    if (e->type() == QAccessible::TextInserted) {
        auto *ie = static_cast<QAccessibleTextInsertEvent *>(e);
        g_events.append({e->type(), ie->changePosition(), {}, ie->textInserted()});
    } else if (e->type() == QAccessible::TextRemoved) {
        auto *re = static_cast<QAccessibleTextRemoveEvent *>(e);
        g_events.append({e->type(), re->changePosition(), re->textRemoved(), {}});
    } else if (e->type() == QAccessible::TextUpdated) {
        auto *ue = static_cast<QAccessibleTextUpdateEvent *>(e);
        g_events.append({e->type(), ue->changePosition(), ue->textRemoved(), ue->textInserted()});
    }
}

// Applies the recorded events to what a screen reader had read; false when an event
// removes text that was not there.
bool replay(QString &shown)
{
    for (const Recorded &ev : g_events) {
        if (ev.position < 0 || ev.position > shown.size() ||
            shown.mid(ev.position, ev.removed.size()) != ev.removed)
            return false;
        shown.replace(ev.position, ev.removed.size(), ev.inserted);
    }
    return true;
}

// At most one event per flush, or a removal followed by an insertion.
bool coalesced()
{
    return g_events.size() <= 1 ||
           (g_events.size() == 2 && g_events[0].type == QAccessible::TextRemoved &&
            g_events[1].type == QAccessible::TextInserted);
}

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class TstLineView : public QObject
{
    Q_OBJECT
private slots:
    void content_data();
    void content();
    void bounds_data();
    void bounds();
    void scrollBarsComeAndGo();
    void offsets();
    void controlCharactersDrawnVisibly_data();
    void controlCharactersDrawnVisibly();
    void controlCharactersTellApart();
    void selectionAndCopy_data();
    void selectionAndCopy();
    void contextMenu();
    void times_data();
    void times();
    void keyboardScrolling_data();
    void keyboardScrolling();
    void followAppendPane();
    void shownAsAFullPaintDraws();
    void rowsCopiedLookAsDrawn_data();
    void rowsCopiedLookAsDrawn();
    void followPrependPane();
    void scrolledAwayAppendPaneSurvivesTrim();
    void burstPaintsBoundedly();
    void paceOutlivesPanes();
    void accessibleText();
    void accessibleBoundaries_data();
    void accessibleBoundaries();
    void accessibleGeometry();
    void accessibleNotifications_data();
    void accessibleNotifications();
    void burstNotifiedOncePerFlush_data();
    void burstNotifiedOncePerFlush();
};

void TstLineView::content_data()
{
    columns<Ops, QByteArrayList, QString>("ops", "lines", "text");

    QTest::newRow("text LF splits")
        << Ops{"Tab\ncd"} << QByteArrayList{"ab", "cd"} << QStringLiteral("ab\r\ncd");
    QTest::newRow("text CR LF keeps CR, copies as came")
        << Ops{"Tab\r\ncd"} << QByteArrayList{"ab\r", "cd"} << QStringLiteral("ab\r\ncd");
    QTest::newRow("text bare CR stays in line")
        << Ops{"Tab\rcd"} << QByteArrayList{"ab\rcd"} << QStringLiteral("ab\rcd");
    QTest::newRow("text one char per call")
        << Ops{"Ta", "T\r", "T\n", "Tb"} << QByteArrayList{"a\r", "b"} << QStringLiteral("a\r\nb");
    QTest::newRow("text ending in LF opens empty line")
        << Ops{"Tab\n"} << QByteArrayList{"ab", ""} << QStringLiteral("ab\r\n");
    QTest::newRow("text LF LF") << Ops{"T\n\n"} << QByteArrayList{"", "", ""}
                                << QStringLiteral("\r\n\r\n");
    QTest::newRow("empty text adds nothing") << Ops{"T"} << QByteArrayList{} << QString();
    QTest::newRow("text after a line starts a new one")
        << Ops{"Ax", "Ty"} << QByteArrayList{"x", "y"} << QStringLiteral("x\r\ny");
    QTest::newRow("line after text starts a new one")
        << Ops{"Tab", "AL", "Tc"} << QByteArrayList{"ab", "L", "c"}
        << QStringLiteral("ab\r\nL\r\nc");
    QTest::newRow("prepend puts newest first")
        << Ops{"P1", "P2", "P3"} << QByteArrayList{"3", "2", "1"} << QStringLiteral("3\r\n2\r\n1");
    QTest::newRow("prepend leaves the open line open")
        << Ops{"Tab", "PF", "Tc"} << QByteArrayList{"F", "abc"} << QStringLiteral("F\r\nabc");
    QTest::newRow("text after prepend into empty pane")
        << Ops{"Pbc", "Tx"} << QByteArrayList{"bc", "x"} << QStringLiteral("bc\r\nx");
    QTest::newRow("empty frame line")
        << Ops{"P", "Pbc"} << QByteArrayList{"bc", ""} << QStringLiteral("bc\r\n");
    QTest::newRow("log lines with CR and LF inside")
        << Ops{"ABffr[4] = [\r: 13]", "ABffr[5] = [\n: 10]"}
        << QByteArrayList{"Bffr[4] = [\r: 13]", "Bffr[5] = [\n: 10]"}
        << QStringLiteral("Bffr[4] = [\r: 13]\r\nBffr[5] = [\n: 10]");
    QTest::newRow("line ending in CR joined by LF")
        << Ops{"Ax\r", "Ay"} << QByteArrayList{"x\r", "y"} << QStringLiteral("x\r\ny");
    const QByteArray bin("\x00\x7f\x80\xff", 4);
    QTest::newRow("NUL and high bytes")
        << Ops{"A" + bin} << QByteArrayList{bin} << QString::fromLatin1(bin);

    const QByteArray longLine = pattern(LineView::kMaxLineBytes + 5);
    QTest::newRow("over-long line continues, copies whole")
        << Ops{"A" + longLine, "Az"}
        << QByteArrayList{longLine.left(LineView::kMaxLineBytes),
                          longLine.mid(LineView::kMaxLineBytes), "z"}
        << QString::fromLatin1(longLine + "\r\nz");
    QTest::newRow("over-long prepended line reads in order")
        << Ops{"Pz", "P" + longLine}
        << QByteArrayList{longLine.left(LineView::kMaxLineBytes),
                          longLine.mid(LineView::kMaxLineBytes), "z"}
        << QString::fromLatin1(longLine + "\r\nz");
    const QByteArray longText = pattern(2 * LineView::kMaxLineBytes + 7);
    QTest::newRow("over-long text continues")
        << Ops{"T" + longText.left(10), "T" + longText.mid(10), "T\nq"}
        << QByteArrayList{longText.left(LineView::kMaxLineBytes),
                          longText.mid(LineView::kMaxLineBytes, LineView::kMaxLineBytes),
                          longText.mid(2 * LineView::kMaxLineBytes), "q"}
        << QString::fromLatin1(longText + "\r\nq");
}

void TstLineView::content()
{
    QFETCH(Ops, ops);
    QFETCH(QByteArrayList, lines);
    QFETCH(QString, text);
    LineView v;
    apply(v, ops);
    QCOMPARE(linesOf(v), lines);
    QCOMPARE(v.text(), text);
    QCOMPARE(v.characterCount(), text.size());
    QCOMPARE(v.droppedLines(), 0);
}

void TstLineView::bounds_data()
{
    columns<qsizetype, qsizetype, Ops, QByteArrayList, qsizetype>("maxLines", "maxBytes", "ops",
                                                                  "lines", "dropped");

    const qsizetype big = 1 << 20;
    QTest::newRow("append drops the top")
        << qsizetype(3) << big << Ops{"A1", "A2", "A3", "A4", "A5"} << QByteArrayList{"3", "4", "5"}
        << qsizetype(2);
    QTest::newRow("prepend drops the bottom")
        << qsizetype(3) << big << Ops{"P1", "P2", "P3", "P4", "P5"} << QByteArrayList{"5", "4", "3"}
        << qsizetype(2);
    QTest::newRow("text drops the top")
        << qsizetype(2) << big << Ops{"T1\n2\n3\n4"} << QByteArrayList{"3", "4"} << qsizetype(2);
    QTest::newRow("frames after text drop the old text below")
        << qsizetype(3) << big << Ops{"Tx\ny", "Pa", "Pb"} << QByteArrayList{"b", "a", "x"}
        << qsizetype(1);
    QTest::newRow("exactly at the bound keeps all")
        << qsizetype(3) << big << Ops{"A1", "A2", "A3"} << QByteArrayList{"1", "2", "3"}
        << qsizetype(0);
    QTest::newRow("byte budget drops oldest")
        << qsizetype(100) << qsizetype(10) << Ops{"Aaaaa", "Abbbb", "Acccc", "Adddd"}
        << QByteArrayList{"cccc", "dddd"} << qsizetype(2);
    QTest::newRow("byte budget keeps the newest line even if larger")
        << qsizetype(100) << qsizetype(3) << Ops{"Aab", "Aabcdef"} << QByteArrayList{"abcdef"}
        << qsizetype(1);
    QTest::newRow("byte budget counts growing text")
        << qsizetype(100) << qsizetype(6) << Ops{"Tabc\n", "Tdefg"} << QByteArrayList{"defg"}
        << qsizetype(1);
}

void TstLineView::bounds()
{
    QFETCH(qsizetype, maxLines);
    QFETCH(qsizetype, maxBytes);
    QFETCH(Ops, ops);
    QFETCH(QByteArrayList, lines);
    QFETCH(qsizetype, dropped);
    LineView v;
    v.setMaxLines(maxLines);
    v.setMaxBytes(maxBytes);
    apply(v, ops);
    QCOMPARE(linesOf(v), lines);
    QCOMPARE(v.droppedLines(), dropped);
    QCOMPARE(v.text(), QString::fromLatin1(lines.join("\r\n")));
    QCOMPARE(v.droppedNotice().isEmpty(), dropped == 0);
    if (dropped > 0)
        QVERIFY(v.droppedNotice().contains(QString::number(dropped)));

    // Lowering the bound afterwards trims the same end; clear forgets the count.
    v.setMaxLines(1);
    QCOMPARE(v.lineCount(), 1);
    QCOMPARE(v.line(0), ops.last().at(0) == 'P' ? lines.first() : lines.last());
    v.clear();
    QCOMPARE(v.lineCount(), 0);
    QCOMPARE(v.droppedLines(), 0);
    QCOMPARE(v.text(), QString());
}

// The scroll bars come when the lines no longer fit, in either direction, and go again
// when the pane is cleared, however the ranges changed in between.
void TstLineView::scrollBarsComeAndGo()
{
    LineView v;
    v.resize(200, 120);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QVERIFY(!v.verticalScrollBar()->isVisible());
    QVERIFY(!v.horizontalScrollBar()->isVisible());
    for (int i = 0; i < 200; ++i)
        v.appendLine(QByteArray::number(i));
    v.appendLine(QByteArray(300, 'w'));
    QTRY_VERIFY(v.verticalScrollBar()->isVisible());
    QTRY_VERIFY(v.horizontalScrollBar()->isVisible());
    for (int i = 0; i < 200; ++i) // the ranges grow while the bars stay
        v.appendLine(QByteArray::number(i) + QByteArray(i + 300, 'w'));
    QTRY_COMPARE(v.verticalScrollBar()->maximum(), 401 - v.verticalScrollBar()->pageStep());
    v.clear();
    QTRY_VERIFY(!v.verticalScrollBar()->isVisible());
    QTRY_VERIFY(!v.horizontalScrollBar()->isVisible());
}

void TstLineView::offsets()
{
    LineView v;
    apply(v, Ops{"Aab", "Tc\r\nd", "P", "Pxy\r", "Te\nf"});
    const QString all = v.text();
    QCOMPARE(all, QStringLiteral("xy\r\n\r\nab\r\nc\r\nde\r\nf"));
    QCOMPARE(v.characterCount(), all.size());
    for (qsizetype s = 0; s <= all.size(); ++s)
        for (qsizetype e = s; e <= all.size(); ++e)
            QCOMPARE(v.textRange(s, e), all.mid(s, e - s));
    for (qsizetype o = 0; o <= all.size(); ++o) {
        qsizetype line = -1;
        qsizetype column = -1;
        v.positionAt(o, &line, &column);
        const qsizetype back = v.offsetOf(line, column);
        // Inside a line break the position is the line's end.
        const bool inBreak =
            o > 0 && (all.at(o - 1) == QLatin1Char('\r') || all.at(o - 1) == QLatin1Char('\n')) &&
            back != o;
        if (!inBreak)
            QCOMPARE(back, o);
        QVERIFY(back <= o);
        QCOMPARE(v.textRange(v.offsetOf(line, 0), back),
                 QString::fromLatin1(v.line(line).left(column)));
    }
}

void TstLineView::controlCharactersDrawnVisibly_data()
{
    columns<QByteArray, bool>("byte", "ink");
    QTest::newRow("NUL") << QByteArray(1, '\0') << true;
    QTest::newRow("TAB") << QByteArray("\t") << true;
    QTest::newRow("LF") << QByteArray("\n") << true;
    QTest::newRow("CR") << QByteArray("\r") << true;
    QTest::newRow("ESC") << QByteArray("\x1b") << true;
    QTest::newRow("DEL") << QByteArray("\x7f") << true;
    QTest::newRow("C1 NEL") << QByteArray("\x85") << true;
    QTest::newRow("soft hyphen") << QByteArray("\xad") << true;
    QTest::newRow("space stays blank") << QByteArray(" ") << false;
}

void TstLineView::controlCharactersDrawnVisibly()
{
    QFETCH(QByteArray, byte);
    QFETCH(bool, ink);
    auto v = shownView({"A" + byte + "B"});
    QVERIFY(v);
    const QRect r = v->characterRect(0, 1).toAlignedRect().adjusted(1, 1, -1, -1);
    QVERIFY2(r.width() >= 2, "the character takes room");
    const QImage img = v->viewport()->grab().toImage();
    const QRgb background = v->viewport()->palette().color(QPalette::Base).rgb();
    int inked = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (img.pixel(x, y) != background)
                ++inked;
    QCOMPARE(inked > 0, ink);
}

void TstLineView::controlCharactersTellApart()
{
    // A missing-glyph box would look the same for every code; each must read differently.
    QByteArrayList lines;
    for (int b = 0; b < 32; ++b)
        lines << QByteArray(1, char(b));
    lines << QByteArray("\x7f");
    auto v = shownView({});
    QVERIFY(v);
    v->resize(200, 40 * 33);
    for (const QByteArray &l : lines)
        v->appendLine(l);
    v->flushPending();
    QCOMPARE(v->firstVisibleLine(), 0);
    const QImage img = v->viewport()->grab().toImage();
    QSet<QByteArray> seen;
    for (int i = 0; i < lines.size(); ++i) {
        const QRect r = v->characterRect(i, 0).toAlignedRect();
        const QImage cell = img.copy(r).convertToFormat(QImage::Format_RGB32);
        const QByteArray pixels(reinterpret_cast<const char *>(cell.constBits()),
                                cell.sizeInBytes());
        QVERIFY2(!seen.contains(pixels), qPrintable(QString::number(i)));
        seen.insert(pixels);
    }
}

void TstLineView::selectionAndCopy_data()
{
    columns<QString, int, int, int, int, QString>("gesture", "l0", "c0", "l1", "c1", "copied");

    // Lines: "alpha beta", "gamma delta", "x\ty\r", "last"
    QTest::newRow("drag within a line")
        << QStringLiteral("drag") << 0 << 1 << 0 << 4 << QStringLiteral("lph");
    QTest::newRow("drag across lines")
        << QStringLiteral("drag") << 0 << 6 << 1 << 5 << QStringLiteral("beta\r\ngamma");
    QTest::newRow("drag backwards")
        << QStringLiteral("drag") << 1 << 5 << 0 << 6 << QStringLiteral("beta\r\ngamma");
    QTest::newRow("drag keeps raw controls")
        << QStringLiteral("drag") << 2 << 0 << 3 << 2 << QStringLiteral("x\ty\r\nla");
    QTest::newRow("shift click extends")
        << QStringLiteral("shift") << 0 << 6 << 1 << 2 << QStringLiteral("beta\r\nga");
    QTest::newRow("double click selects a word")
        << QStringLiteral("double") << 1 << 8 << 0 << 0 << QStringLiteral("delta");
    QTest::newRow("triple click selects the line")
        << QStringLiteral("triple") << 1 << 2 << 0 << 0 << QStringLiteral("gamma delta");
    QTest::newRow("ctrl A selects all")
        << QStringLiteral("all") << 0 << 0 << 0 << 0
        << QStringLiteral("alpha beta\r\ngamma delta\r\nx\ty\r\nlast");
    QTest::newRow("click without drag copies nothing")
        << QStringLiteral("click") << 0 << 2 << 0 << 0 << QStringLiteral("untouched");
}

void TstLineView::selectionAndCopy()
{
    QFETCH(QString, gesture);
    QFETCH(int, l0);
    QFETCH(int, c0);
    QFETCH(int, l1);
    QFETCH(int, c1);
    QFETCH(QString, copied);

    auto v = shownView({"alpha beta", "gamma delta", "x\ty\r", "last"});
    QVERIFY(v);
    QWidget *vp = v->viewport();
    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    const QPoint p0 = at(*v, l0, c0);
    const QPoint p1 = at(*v, l1, c1);
    // Aim at the left edge of the end character so the drag ends before it.
    const QPoint p1edge(int(v->characterRect(l1, c1).left()) + 1, p1.y());

    if (gesture == QLatin1String("drag")) {
        const QPoint p0edge(int(v->characterRect(l0, c0).left()) + 1, p0.y());
        QTest::mousePress(vp, Qt::LeftButton, {}, p0edge);
        QTest::mouseMove(vp, (p0edge + p1edge) / 2);
        QTest::mouseMove(vp, p1edge);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, p1edge);
    } else if (gesture == QLatin1String("shift")) {
        const QPoint p0edge(int(v->characterRect(l0, c0).left()) + 1, p0.y());
        QTest::mouseClick(vp, Qt::LeftButton, {}, p0edge);
        QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, p1edge);
    } else if (gesture == QLatin1String("double")) {
        QTest::mouseDClick(vp, Qt::LeftButton, {}, p0);
    } else if (gesture == QLatin1String("triple")) {
        QTest::mouseDClick(vp, Qt::LeftButton, {}, p0);
        QTest::mouseClick(vp, Qt::LeftButton, {}, p0);
    } else if (gesture == QLatin1String("all")) {
        QTest::keyClick(v.get(), Qt::Key_A, Qt::ControlModifier);
    } else if (gesture == QLatin1String("click")) {
        QTest::mouseClick(vp, Qt::LeftButton, {}, p0);
    }
    QTest::keyClick(v.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), copied);
}

void TstLineView::contextMenu()
{
    auto v = shownView({"one", "two\x01"});
    QVERIFY(v);
    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    auto openMenu = [&]() -> QMenu * {
        const QPoint p(10, 5);
        QContextMenuEvent ev(QContextMenuEvent::Mouse, p, v->viewport()->mapToGlobal(p));
        QApplication::sendEvent(v->viewport(), &ev);
        return v->findChild<QMenu *>();
    };
    QMenu *menu = openMenu();
    QVERIFY(menu);
    QAction *copy = menu->findChild<QAction *>(QStringLiteral("copy"));
    QAction *all = menu->findChild<QAction *>(QStringLiteral("selectAll"));
    QVERIFY(copy && all);
    QCOMPARE(copy->text().remove(QLatin1Char('&')), QStringLiteral("Copy"));
    QCOMPARE(all->text().remove(QLatin1Char('&')), QStringLiteral("Select All"));
    QVERIFY(!copy->isEnabled()); // nothing selected yet
    all->trigger();
    menu->close();
    QTRY_VERIFY(!v->findChild<QMenu *>());

    menu = openMenu();
    QVERIFY(menu);
    copy = menu->findChild<QAction *>(QStringLiteral("copy"));
    QVERIFY(copy->isEnabled());
    copy->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("one\r\ntwo\x01"));
    menu->close();
}

void TstLineView::times_data()
{
    // Both lines copied, or from the middle of the first: only a line's start takes its time.
    columns<bool, bool, QString>("shown", "fromLineStart", "copied");
    QTest::newRow("hidden, all") << false << true << QStringLiteral("first\r\nsecond");
    QTest::newRow("hidden, part") << false << false << QStringLiteral("irst\r\nsecond");
    QTest::newRow("shown, all") << true << true
                                << QStringLiteral("14:03:05.100 first\r\n14:03:06.007 second");
    QTest::newRow("shown, part") << true << false << QStringLiteral("irst\r\n14:03:06.007 second");
}

void TstLineView::times()
{
    QFETCH(bool, shown);
    QFETCH(bool, fromLineStart);
    QFETCH(QString, copied);
    auto v = shownView({});
    QVERIFY(v);
    v->appendLine("first", kTime0);
    v->appendLine("second", kTime0 + 907);
    v->flushPending();
    QVERIFY(!v->timesShown()); // off at start
    const qreal plainLeft = v->characterRect(0, 0).left();
    QSignalSpy changed(v.get(), &LineView::timesShownChanged);
    LineView::setAccessibleNotifier(record);
    auto guard = qScopeGuard([] { LineView::setAccessibleNotifier(nullptr); });
    v->flushPending();
    QString heard = v->text();
    g_events.clear();
    if (shown) {
        const QPoint p(10, 5);
        QContextMenuEvent ev(QContextMenuEvent::Mouse, p, v->viewport()->mapToGlobal(p));
        QApplication::sendEvent(v->viewport(), &ev);
        QMenu *menu = v->findChild<QMenu *>();
        QVERIFY(menu);
        QAction *times = menu->findChild<QAction *>(QStringLiteral("showTimes"));
        QVERIFY(times && times->isCheckable() && !times->isChecked());
        times->trigger();
        menu->close();
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toBool(), true);
    }
    QCOMPARE(v->timesShown(), shown);
    QVERIFY(replay(heard)); // a screen reader hears the times come
    QCOMPARE(heard, v->text());
    // The text moves right of the time column, which holds the widest time.
    const qreal column = v->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000"));
    QCOMPARE(v->characterRect(0, 0).left() - plainLeft >= column, shown);
    v->setSelection(v->offsetOf(0, fromLineStart ? 0 : 1), v->characterCount());
    v->copy();
    QCOMPARE(QApplication::clipboard()->text(), copied);
    // A screen reader reads the times with the text while they are shown.
    QAccessibleTextInterface *text =
        QAccessible::queryAccessibleInterface(v.get())->textInterface();
    QCOMPARE(text->text(0, text->characterCount()), v->text());
    QCOMPARE(v->text().startsWith(QStringLiteral("14:03:05.100 first")), shown);
}

void TstLineView::keyboardScrolling_data()
{
    columns<int, int, QString>("key", "modifiers", "expect");
    QTest::newRow("ctrl home") << int(Qt::Key_Home) << int(Qt::ControlModifier)
                               << QStringLiteral("top");
    QTest::newRow("ctrl end") << int(Qt::Key_End) << int(Qt::ControlModifier)
                              << QStringLiteral("bottom");
    QTest::newRow("down") << int(Qt::Key_Down) << 0 << QStringLiteral("+1");
    QTest::newRow("up") << int(Qt::Key_Up) << 0 << QStringLiteral("-1");
    QTest::newRow("page down") << int(Qt::Key_PageDown) << 0 << QStringLiteral("+page");
    QTest::newRow("page up") << int(Qt::Key_PageUp) << 0 << QStringLiteral("-page");
    QTest::newRow("end") << int(Qt::Key_End) << 0 << QStringLiteral("right");
    QTest::newRow("home") << int(Qt::Key_Home) << 0 << QStringLiteral("left");
}

void TstLineView::keyboardScrolling()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, expect);
    QByteArrayList lines;
    for (int i = 0; i < 200; ++i)
        lines << QByteArray::number(i);
    lines << pattern(300);
    auto v = shownView(lines);
    QVERIFY(v);
    QScrollBar *vb = v->verticalScrollBar();
    QScrollBar *hb = v->horizontalScrollBar();
    QVERIFY(vb->maximum() > 2 * vb->pageStep());
    QVERIFY(hb->maximum() > 0);
    // Start in the middle both ways.
    const int mid = vb->maximum() / 2;
    vb->setValue(mid);
    hb->setValue(hb->maximum() / 2);
    QVERIFY(!v->isFollowing());
    QTest::keyClick(v.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    const int page = vb->pageStep();
    if (expect == QLatin1String("top"))
        QCOMPARE(vb->value(), 0);
    else if (expect == QLatin1String("bottom")) {
        QCOMPARE(vb->value(), vb->maximum());
        QVERIFY(v->isFollowing());
    } else if (expect == QLatin1String("+1"))
        QCOMPARE(vb->value(), mid + 1);
    else if (expect == QLatin1String("-1"))
        QCOMPARE(vb->value(), mid - 1);
    else if (expect == QLatin1String("+page"))
        QCOMPARE(vb->value(), mid + page);
    else if (expect == QLatin1String("-page"))
        QCOMPARE(vb->value(), mid - page);
    else if (expect == QLatin1String("right"))
        QCOMPARE(hb->value(), hb->maximum());
    else if (expect == QLatin1String("left"))
        QCOMPARE(hb->value(), 0);
    if (!expect.startsWith(QLatin1Char('r')) && !expect.startsWith(QLatin1Char('l')))
        QCOMPARE(hb->value(), hb->maximum() / 2); // vertical keys leave it alone
}

void TstLineView::followAppendPane()
{
    QByteArrayList lines;
    for (int i = 0; i < 100; ++i)
        lines << "line " + QByteArray::number(i);
    auto v = shownView(lines);
    QVERIFY(v);
    QScrollBar *vb = v->verticalScrollBar();
    QVERIFY(v->isFollowing());
    QCOMPARE(vb->value(), vb->maximum());

    // Following: new lines come into view at the next repaint, without help.
    v->appendLine("line 100");
    QTRY_COMPARE(v->line(v->firstVisibleLine() + vb->pageStep() - 1), QByteArray("line 100"));

    // Scrolled away: new lines leave the view where it is.
    vb->setValue(10);
    QVERIFY(!v->isFollowing());
    const QByteArray top = v->line(v->firstVisibleLine());
    for (int i = 0; i < 50; ++i)
        v->appendLine("more");
    v->flushPending();
    QCOMPARE(v->line(v->firstVisibleLine()), top);
    QCOMPARE(vb->value(), 10);

    // Back at the bottom it follows again.
    vb->setValue(vb->maximum());
    QVERIFY(v->isFollowing());
    v->appendLine("newest");
    v->flushPending();
    QCOMPARE(vb->value(), vb->maximum());
    QCOMPARE(v->line(v->firstVisibleLine() + vb->pageStep() - 1), QByteArray("newest"));
}

// A flush updates the pane only up to its widest line; what is on screen must still be
// what a full paint draws, after lines get narrower too.
void TstLineView::shownAsAFullPaintDraws()
{
    auto v = shownView({});
    QVERIFY(v);
    v->setMaxLines(30);
    const auto matches = [&] {
        v->flushPending();
        QCoreApplication::processEvents();
        const QRect area = v->viewport()->geometry();
        const QImage shown = v->screen()->grabWindow(v->winId()).toImage().copy(area);
        const QImage full = v->viewport()->grab().toImage();
        return shown.convertToFormat(QImage::Format_RGB32) ==
               full.convertToFormat(QImage::Format_RGB32);
    };
    for (int i = 0; i < 40; ++i)
        v->appendLine(pattern(5 + i % 3 * 12)); // within the width: no bar comes or goes
    QVERIFY(matches());
    v->clear();
    for (int i = 0; i < 40; ++i)
        v->appendLine("short " + QByteArray::number(i));
    QVERIFY(matches());
    v->appendText("grows");
    QVERIFY(matches());
    for (int i = 0; i < 3; ++i)
        v->prependLine(pattern(60));
    QVERIFY(matches());
    // Few short lines kept in a new pane: the notice of the dropped ones is on screen, wider
    // than they are.
    v = shownView({});
    QVERIFY(v);
    v->setMaxLines(2);
    for (int i = 0; i < 8; ++i) {
        v->appendLine("n" + QByteArray::number(i));
        QVERIFY(matches());
    }

    // A trickle moves the rows already on screen: lines in ones and twos at the bottom, raw
    // text growing the last line over several flushes, with times, and newest on top.
    v = shownView({});
    QVERIFY(v);
    v->setMaxLines(100);
    for (int i = 0; i < v->verticalScrollBar()->pageStep() - 2; ++i)
        v->appendLine(pattern(10 + i)); // rows left blank at the bottom, then filled
    QVERIFY(matches());
    const auto trickle = [&](void (LineView::*add)(const QByteArray &, qint64)) {
        for (int i = 0; i < 4; ++i) {
            (*v.*add)("trickle " + QByteArray::number(i), 0);
            if (i % 2)
                (*v.*add)(pattern(45), 0);
            QVERIFY(matches());
        }
    };
    trickle(&LineView::appendLine);
    for (const char *text : {"ab", "cd\nef", "gh\n\nij", "kl"}) {
        v->appendText(text);
        QVERIFY2(matches(), text);
    }
    v->setTimesShown(true);
    v->appendLine("timed");
    QVERIFY(matches());
    // Readings in frames of one length, a line per character: at every update the rows
    // show the same lines at the same places, but where a reading changed.
    for (const QByteArray &format :
         {QByteArray("A:%1 B:7\r"), QByteArray("A:%1 B:7 C:-0.%1 D:12\r")}) {
        v = shownView({});
        QVERIFY(v);
        for (int f = 0; f < 6; ++f) {
            for (char c : QString::fromLatin1(format).arg(100 + f % 4 / 2).toLatin1())
                v->appendLine("Bffr = [" + QByteArray(1, c) + "]");
            QVERIFY2(matches(), format.constData());
        }
    }
    v = shownView({});
    QVERIFY(v);
    for (int i = 0; i < 30; ++i)
        v->prependLine(pattern(10 + i));
    QVERIFY(matches());
    trickle(&LineView::prependLine);
}

void TstLineView::rowsCopiedLookAsDrawn_data()
{
    columns<QByteArrayList, bool, int, QString>("lines", "times", "scrolled", "change");
    const QByteArrayList log{"Bffr[1] = [0: 48]",
                             "Bffr[2] = [\r: 13]",
                             "Bffr[3] = [\n: 10]",
                             QByteArray("\x00\x7f\x80\xad\xe9\xff", 6),
                             "",
                             pattern(90)};
    QTest::newRow("text and boxed codes") << log << false << 0 << QString();
    QTest::newRow("after the times, a fraction of a pixel in") << log << true << 0 << QString();
    QTest::newRow("scrolled sideways") << log << false << 37 << QString();
    QTest::newRow("colours changed") << log << false << 0 << QStringLiteral("palette");
    QTest::newRow("font changed") << log << true << 0 << QStringLiteral("font");
}

void TstLineView::rowsCopiedLookAsDrawn()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(bool, times);
    QFETCH(int, scrolled);
    QFETCH(QString, change);
    auto v = shownView({});
    QVERIFY(v);
    for (int i = 0; i < 4; ++i) // the same lines again, as repeated readings come
        for (const QByteArray &l : lines)
            v->appendLine(l, kTime0 + i);
    v->setTimesShown(times);
    v->flushPending();
    v->horizontalScrollBar()->setValue(scrolled);
    QCOMPARE(v->horizontalScrollBar()->value(), scrolled);
    v->viewport()->grab(); // keeps the rows it drew
    if (change == u"palette") {
        QPalette pal = v->palette();
        pal.setColor(QPalette::Text, QColor(200, 30, 30));
        pal.setColor(QPalette::Base, QColor(20, 20, 60));
        v->setPalette(pal);
    } else if (change == u"font") {
        QFont f = v->font();
        f.setPointSizeF(f.pointSizeF() * 1.5);
        v->setFont(f);
    }
    const QImage copied = v->viewport()->grab().toImage();
    // A find without matches draws every row's text afresh.
    v->setFindHighlight(LineFinder(QStringLiteral("no such text"), true));
    const QImage drawn = v->viewport()->grab().toImage();
    QCOMPARE(copied.convertToFormat(QImage::Format_RGB32),
             drawn.convertToFormat(QImage::Format_RGB32));
}

void TstLineView::followPrependPane()
{
    auto v = shownView({});
    QVERIFY(v);
    v->setMaxLines(1000);
    for (int i = 0; i < 100; ++i)
        v->prependLine("frame " + QByteArray::number(i));
    v->flushPending();
    QScrollBar *vb = v->verticalScrollBar();
    QCOMPARE(vb->value(), 0);
    QCOMPARE(v->line(v->firstVisibleLine()), QByteArray("frame 99"));

    vb->setValue(30);
    QVERIFY(!v->isFollowing());
    const QByteArray top = v->line(v->firstVisibleLine());
    for (int i = 0; i < 5; ++i)
        v->prependLine("new");
    v->flushPending();
    QCOMPARE(v->line(v->firstVisibleLine()), top); // the operator's lines stay put
    QCOMPARE(vb->value(), 35);

    vb->setValue(0);
    QVERIFY(v->isFollowing());
    v->prependLine("newest");
    v->flushPending();
    QCOMPARE(vb->value(), 0);
    QCOMPARE(v->line(v->firstVisibleLine()), QByteArray("newest"));
}

void TstLineView::scrolledAwayAppendPaneSurvivesTrim()
{
    QByteArrayList lines;
    for (int i = 0; i < 100; ++i)
        lines << QByteArray::number(i);
    auto v = shownView({});
    QVERIFY(v);
    v->setMaxLines(100);
    for (const QByteArray &l : lines)
        v->appendLine(l);
    v->flushPending();
    QScrollBar *vb = v->verticalScrollBar();
    vb->setValue(20);
    QCOMPARE(v->line(v->firstVisibleLine()), QByteArray("20"));
    for (int i = 0; i < 10; ++i)
        v->appendLine("x");
    v->flushPending();
    QCOMPARE(v->droppedLines(), 10);
    QCOMPARE(v->line(v->firstVisibleLine()), QByteArray("20"));
    QCOMPARE(vb->value(), 11); // ten lines fewer above it, and the notice row

    // Once the line it showed is gone the view holds at the oldest kept line.
    for (int i = 0; i < 50; ++i)
        v->appendLine("y");
    v->flushPending();
    QCOMPARE(vb->value(), 0);
    QCOMPARE(v->firstVisibleLine(), -1); // the "older lines not kept" notice row
}

void TstLineView::burstPaintsBoundedly()
{
    auto v = shownView({});
    QVERIFY(v);
    PaintCounter counter;
    v->viewport()->installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;

    v->setMaxLines(100000);
    for (int i = 0; i < 200000; ++i)
        v->appendLine("Bffr[" + QByteArray::number(i % 1000) + "] = [a: 97]");
    QCOMPARE(counter.paints, 0); // nothing is drawn from inside the calls

    QScrollBar *vb = v->verticalScrollBar();
    QTRY_VERIFY(vb->maximum() > 99000);
    QTRY_VERIFY(counter.paints >= 1);
    QCOMPARE(vb->value(), vb->maximum());
    QCoreApplication::processEvents();
    QVERIFY2(counter.paints <= 4, qPrintable(QString::number(counter.paints)));
    QCOMPARE(v->lineCount(), 100000);
    QCOMPARE(v->droppedLines(), 100000);
    QCOMPARE(v->line(v->lineCount() - 1), QByteArray("Bffr[999] = [a: 97]"));
}

void TstLineView::paceOutlivesPanes()
{
    // A pane closed with a repaint pending is left out of the round; work asked for twice
    // before a round is done once.
    auto gone = shownView({});
    QVERIFY(gone);
    gone->appendLine("pending");
    gone.reset();
    QObject other;
    int runs = 0;
    ScreenPace::instance().request(&other, [&runs] { ++runs; });
    ScreenPace::instance().request(&other, [&runs] { runs += 100; });
    QTRY_COMPARE(runs, 1);

    // Work asked for first runs first, and what it asks for then still runs in that round
    // (input taken in first is shown in the same update).
    QByteArray order;
    QObject input, third;
    ScreenPace::instance().request(&other, [&order] { order += 'p'; });
    ScreenPace::instance().request(&input, [&] {
        order += 'i';
        ScreenPace::instance().request(&third, [&order] { order += 'x'; });
        ScreenPace::instance().request(&input, [&order] { order += 'n'; }, ScreenPace::First);
    }, ScreenPace::First);
    QTRY_COMPARE(order, QByteArray("ipxn")); // n: first in the next round
}

void TstLineView::accessibleText()
{
    auto v = shownView({"alpha beta", "x\ry"});
    QVERIFY(v);
    v->setAccessibleName(QStringLiteral("Character log"));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(v.get());
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Character log"));
    QVERIFY(iface->state().readOnly);
    QVERIFY(iface->state().multiLine);
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), int(v->text().size()));
    QCOMPARE(text->text(0, text->characterCount()), QStringLiteral("alpha beta\r\nx\ry"));

    // It reads what the pane holds now, also after more arrives.
    v->appendLine("more");
    QCOMPARE(text->text(0, text->characterCount()), v->text());

    // Selection both ways.
    text->setSelection(0, 2, 8);
    QCOMPARE(v->selectedText(), QStringLiteral("pha be"));
    int s = 0;
    int e = 0;
    text->selection(0, &s, &e);
    QCOMPARE(s, 2);
    QCOMPARE(e, 8);
    QCOMPARE(text->selectionCount(), 1);
    QCOMPARE(text->cursorPosition(), 8);
    text->removeSelection(0);
    QCOMPARE(text->selectionCount(), 0);
    QTest::keyClick(v.get(), Qt::Key_A, Qt::ControlModifier);
    text->selection(0, &s, &e);
    QCOMPARE(text->text(s, e), v->text());

    // The dropped-lines notice reaches assistive technology as a description.
    v->setMaxLines(2);
    QVERIFY(iface->text(QAccessible::Description).contains(QStringLiteral("not kept")));
}

void TstLineView::accessibleBoundaries_data()
{
    columns<int, int, QString, int, int, QString>("offset", "boundary", "at", "start", "end",
                                                  "after");

    // "alpha beta\r\ngamma"
    const int word = QAccessible::WordBoundary;
    const int line = QAccessible::LineBoundary;
    const int ch = QAccessible::CharBoundary;
    QTest::newRow("word at start")
        << 0 << word << QStringLiteral("alpha") << 0 << 5 << QStringLiteral(" ");
    QTest::newRow("word inside") << 7 << word << QStringLiteral("beta") << 6 << 10
                                 << QStringLiteral("\r\n");
    QTest::newRow("word on blank")
        << 5 << word << QStringLiteral(" ") << 5 << 6 << QStringLiteral("beta");
    QTest::newRow("word on second line")
        << 14 << word << QStringLiteral("gamma") << 12 << 17 << QString();
    QTest::newRow("line with its break")
        << 3 << line << QStringLiteral("alpha beta\r\n") << 0 << 12 << QStringLiteral("gamma");
    QTest::newRow("last line") << 12 << line << QStringLiteral("gamma") << 12 << 17 << QString();
    QTest::newRow("char") << 2 << ch << QStringLiteral("p") << 2 << 3 << QStringLiteral("h");
    QTest::newRow("char at end") << 17 << ch << QString() << 17 << 17 << QString();
}

void TstLineView::accessibleBoundaries()
{
    QFETCH(int, offset);
    QFETCH(int, boundary);
    QFETCH(QString, at);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QString, after);
    LineView v;
    v.appendLine("alpha beta");
    v.appendLine("gamma");
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(&v)->textInterface();
    QVERIFY(text);
    const auto type = QAccessible::TextBoundaryType(boundary);
    int s = -2;
    int e = -2;
    QCOMPARE(text->textAtOffset(offset, type, &s, &e), at);
    QCOMPARE(s, start);
    QCOMPARE(e, end);
    QCOMPARE(text->textAfterOffset(offset, type, &s, &e), after);
    if (start > 0) {
        // Before the unit at offset comes the unit ending at its start.
        text->textBeforeOffset(offset, type, &s, &e);
        QCOMPARE(e, start);
    }
}

void TstLineView::accessibleGeometry()
{
    auto v = shownView({"alpha beta", "x\ry", "last"});
    QVERIFY(v);
    QAccessibleTextInterface *text =
        QAccessible::queryAccessibleInterface(v.get())->textInterface();
    const QString all = v->text();
    for (int o = 0; o < all.size(); ++o) {
        if (all.at(o) == QLatin1Char('\n') ||
            (all.at(o) == QLatin1Char('\r') && o + 1 < all.size() &&
             all.at(o + 1) == QLatin1Char('\n')))
            continue; // line breaks are not drawn
        const QRect r = text->characterRect(o);
        QVERIFY(!r.isEmpty());
        QCOMPARE(text->offsetAtPoint(QPoint(r.left() + 1, r.center().y())), o);
    }
    QCOMPARE(text->offsetAtPoint(v->viewport()->mapToGlobal(QPoint(-5, -5))), -1);
}

void TstLineView::accessibleNotifications_data()
{
    columns<quint32, qsizetype, bool>("seed", "maxLines", "times");
    QTest::newRow("unbounded seed 1") << quint32(1) << qsizetype(100000) << false;
    QTest::newRow("unbounded seed 2") << quint32(2) << qsizetype(100000) << false;
    QTest::newRow("tight bound seed 3") << quint32(3) << qsizetype(5) << false;
    QTest::newRow("tight bound seed 4") << quint32(4) << qsizetype(3) << false;
    QTest::newRow("bound of one seed 5") << quint32(5) << qsizetype(1) << false;
    QTest::newRow("times shown seed 6") << quint32(6) << qsizetype(100000) << true;
    QTest::newRow("times shown, tight bound seed 7") << quint32(7) << qsizetype(4) << true;
}

void TstLineView::accessibleNotifications()
{
    // Replaying the notifications on the old text must give the new text, with one
    // removal and one insertion at most per repaint however many calls came in between.
    QFETCH(quint32, seed);
    QFETCH(qsizetype, maxLines);
    QFETCH(bool, times);
    LineView::setAccessibleNotifier(record);
    auto guard = qScopeGuard([] { LineView::setAccessibleNotifier(nullptr); });
    LineView v;
    v.setMaxLines(maxLines);
    v.setTimesShown(times);
    v.flushPending();
    QRandomGenerator rng(seed);
    QString shown = v.text();
    // A byte above 127 as well: the text is Latin-1, not UTF-8.
    static const char alphabet[] = "ab\r\n \xe9";
    for (int round = 0; round < 60; ++round) {
        g_events.clear();
        const int calls = int(rng.bounded(1, 40));
        for (int c = 0; c < calls; ++c) {
            // With times, a line's time is set by its first character: an open line that
            // was announced blank gets one later.
            const qint64 t = times ? kTime0 + round * 1000 + c : 0;
            QByteArray arg;
            for (int k = int(rng.bounded(0, 6)); k > 0; --k)
                arg += alphabet[rng.bounded(0, 6)];
            switch (rng.bounded(0, 20)) {
            case 0:
                v.clear();
                break;
            case 1:
            case 2:
            case 3:
            case 4:
            case 5:
                v.prependLine(arg, t);
                break;
            case 6:
            case 7:
            case 8:
            case 9:
            case 10:
                v.appendLine(arg, t);
                break;
            default:
                v.appendText(arg, t);
                break;
            }
        }
        v.flushPending();
        QVERIFY2(coalesced(), qPrintable(QString::number(g_events.size())));
        QVERIFY(replay(shown));
        QCOMPARE(shown, v.text());
    }
}

void TstLineView::burstNotifiedOncePerFlush_data()
{
    columns<bool, qsizetype>("prepend", "maxLines");
    QTest::newRow("log grows") << false << qsizetype(100000);
    QTest::newRow("full log drops the top") << false << qsizetype(1000);
    QTest::newRow("full frame pane drops the bottom") << true << qsizetype(1000);
    QTest::newRow("burst larger than the pane") << false << qsizetype(300);
}

void TstLineView::burstNotifiedOncePerFlush()
{
    // A screen reader that replays the events of one timer flush reads every line of a
    // burst, from a removal and an insertion at most, and ends up with the pane's text.
    QFETCH(bool, prepend);
    QFETCH(qsizetype, maxLines);
    LineView::setAccessibleNotifier(record);
    auto guard = qScopeGuard([] { LineView::setAccessibleNotifier(nullptr); });
    auto v = shownView({});
    QVERIFY(v);
    v->setMaxLines(maxLines);
    for (int i = 0; i < 1000; ++i)
        v->appendLine("old " + QByteArray::number(i));
    v->flushPending();
    QString shown = v->text();
    g_events.clear();
    const int n = 500;
    for (int i = 0; i < n; ++i) {
        const QByteArray line = "Bffr[" + QByteArray::number(i) + "] = [a: 97]";
        prepend ? v->prependLine(line) : v->appendLine(line);
    }
    QCOMPARE(g_events.size(), 0);     // nothing is sent from inside the calls
    QTRY_VERIFY(!g_events.isEmpty()); // the timer's flush
    QVERIFY2(coalesced(), qPrintable(QString::number(g_events.size())));
    QString inserted;
    for (const Recorded &ev : std::as_const(g_events))
        inserted += ev.inserted;
    for (int i = std::max(0, n - int(maxLines)); i < n; ++i)
        QVERIFY(inserted.contains(QStringLiteral("Bffr[%1] = [a: 97]").arg(i)));
    QVERIFY(replay(shown));
    QCOMPARE(shown, v->text());
    QAccessibleTextInterface *text =
        QAccessible::queryAccessibleInterface(v.get())->textInterface();
    QCOMPARE(text->text(0, text->characterCount()), v->text());
}

QTEST_MAIN(TstLineView)
#include "tst_lineview.moc"
