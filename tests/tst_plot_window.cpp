// The Plot window on the real receive path: frames written to a pty reach its series table,
// which a screen reader reads cell by cell, and its CSV export.
#include "plot/plotwindow.h"
#include "receive/lineview.h"
#include "support/files.h"
#include "support/monitor.h"
#include "support/tables.h"

#include <QAccessible>
#include <QAction>
#include <QChartView>
#include <QContextMenuEvent>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QLabel>
#include <QMenu>
#include <QTableView>
#include <QTest>

namespace {

// The header and every cell of the series table, as assistive technology reads them.
QList<QStringList> accessibleTable(QTableView *view)
{
    QList<QStringList> rows;
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(view);
    QAccessibleTableInterface *table = iface ? iface->tableInterface() : nullptr;
    if (!table)
        return rows;
    QStringList header;
    for (int c = 0; c < table->columnCount(); ++c)
        header << table->columnDescription(c);
    rows << header;
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < table->columnCount(); ++c) {
            QAccessibleInterface *cell = table->cellAt(r, c);
            row << (cell ? cell->text(QAccessible::Name) : QStringLiteral("<no cell>"));
        }
        rows << row;
    }
    return rows;
}

} // namespace

class TestPlotWindow : public QObject
{
    Q_OBJECT
    CaptureFolder m_folder;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        QVERIFY(m_folder.isValid());
    }

    // Two frames before the window opens (taken from the received data pane with their
    // times), four after: the table and a byte-exact export.
    void readingsAndExport_data()
    {
        columns<int, QByteArray, QByteArray>("profile", "start", "end");
        QTest::newRow("frame mode") << 0 << QByteArray("\x02") << QByteArray("\r");
        QTest::newRow("line mode") << 2 << QByteArray() << QByteArray("\r\n");
    }
    void readingsAndExport()
    {
        QFETCH(int, profile);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, end);
        PtyMonitor w;
        QVERIFY(w.portOpen());
        w.pick(profile);
        const qint64 base =
            QDateTime(QDate(2026, 12, 7), QTime(14, 3, 5), Qt::UTC).toMSecsSinceEpoch();
        qint64 now = base;
        w.form->setClock([&] { return QDateTime::fromMSecsSinceEpoch(now); });
        w.monitor(true);
        w.form->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));

        const QList<std::pair<int, QByteArray>> frames{{0, "T:20 H:40%"},     {250, "T:21 H:42%"},
                                                       {1000, "T: 22 H=44%"}, {1100, "T:nan"},
                                                       {1200, "hello"},       {2007, "S1 7.25 V"}};
        int sent = 0;
        for (const auto &[offset, payload] : frames) {
            if (sent == 2) {
                QTest::keyClick(w.form.get(), Qt::Key_G, Qt::ControlModifier);
                QVERIFY(w.form->plotWindow());
            }
            now = base + offset;
            QVERIFY(w.pty->write(start + payload + end));
            ++sent;
            QTRY_COMPARE(w.form->lineStatistics().frames(), qint64(sent));
        }
        PlotWindow *plot = w.form->plotWindow();
        QCOMPARE(plot->windowTitle(), QStringLiteral("Plot"));
        plot->refresh();
        QList<QStringList> table;
        for (const char *row :
             {"Name|Unit|Last|Minimum|Maximum|Mean|Count|Not a number", "T||22|20|22|21|3|1",
              "H|%|44|40|44|42|3|0", "S1|V|7.25|7.25|7.25|7.25|1|0"})
            table << QString::fromUtf8(row).split(u'|');
        QCOMPARE(accessibleTable(plot->seriesTable()), table);

        const QString path = m_folder.newPath();
        w.save->answers = {path};
        plot->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(plot));
        QTest::keyClick(plot, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(readFile(path), QByteArray("time,T,H,S1\r\n"
                                            "2026-12-07T14:03:05.000,20,40,\r\n"
                                            "2026-12-07T14:03:05.250,21,42,\r\n"
                                            "2026-12-07T14:03:06.000,22,44,\r\n"
                                            "2026-12-07T14:03:07.007,,,7.25\r\n"));
    }

    // The pane's menu opens the window, Ctrl+G raises the same one, closing hides it and
    // keeps what it collected; an export that cannot be written says so and leaves nothing.
    void openCloseAndFailedExport()
    {
        Monitor w;
        w.monitor(true);
        w.form->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QContextMenuEvent click(QContextMenuEvent::Keyboard, QPoint(5, 5));
        QApplication::sendEvent(w.out(), &click);
        auto *menu = w.out()->findChild<QMenu *>();
        QVERIFY(menu);
        QAction *open =
            menu->findChild<QAction *>(QStringLiteral("act_plot"), Qt::FindDirectChildrenOnly);
        if (!open) {
            for (QAction *a : menu->actions())
                open = a->text() == u"Plot…" ? a : open;
        }
        QVERIFY(open);
        menu->close();
        QVERIFY(w.serial->readsPaced());
        open->trigger();
        PlotWindow *plot = w.form->plotWindow();
        QVERIFY(plot && plot->isVisible());
        QVERIFY(!w.serial->readsPaced()); // frames are plotted at the times they came

        w.fake->receive("\x02"
                        "a:1\r");
        QTRY_COMPARE(plot->store().frameCount(), qsizetype(1));
        plot->close();
        QVERIFY(!plot->isVisible());
        QTest::keyClick(w.form.get(), Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(w.form->plotWindow(), plot);
        QVERIFY(plot->isVisible());
        QCOMPARE(plot->store().frameCount(), qsizetype(1));
        // Space on the plot pauses the view, not the collection.
        QTest::keyClick(plot->findChild<QWidget *>(QStringLiteral("chart")), Qt::Key_Space);
        QVERIFY(plot->isPaused());
        w.fake->receive("\x02"
                        "a:2\r");
        QTRY_COMPARE(plot->store().frameCount(), qsizetype(2));
        // Past 16 series the plot says how many it leaves out rather than going blank.
        w.fake->receive("\x02"
                        "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17\r");
        QTRY_COMPARE(plot->store().seriesCount(), 18);
        plot->refresh();
        QVERIFY(plot->findChild<QLabel *>(QStringLiteral("status"))
                    ->text()
                    .contains(QStringLiteral("2 more series not shown")));
        QCOMPARE(plot->findChild<QChartView *>()->chart()->series().size(), PlotWindow::kMaxDrawn);

        const QString path = m_folder.newPath() + QStringLiteral("/missing/plot.csv");
        w.save->answers = {path};
        plot->exportCsv();
        QVERIFY(plot->shownError().contains(path));
        QVERIFY(!QFile::exists(path));

        const QString image = m_folder.newPath() + QStringLiteral(".png");
        w.save->answers = {image};
        plot->findChild<QPushButton *>(QStringLiteral("saveImage"))->click();
        QVERIFY(!QImage(image).isNull());

        plot->findChild<QPushButton *>(QStringLiteral("clear"))->click();
        QCOMPARE(plot->store().seriesCount(), 0);
        plot->refresh();
        QCOMPARE(plot->seriesTable()->model()->rowCount(), 0);
    }
};

QTEST_MAIN(TestPlotWindow)
#include "tst_plot_window.moc"
