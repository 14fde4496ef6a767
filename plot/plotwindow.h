#pragma once
// The non-modal "Plot" window: the numbers of received frames over time, one line per
// series (up to 16 drawn), and the series table a screen reader reads. It collects every
// frame it is handed, shown or not; it draws on a timer, at most 25 times a second, and
// only while shown, from the store's per-pixel-column reduction.

#include "plot/plotfields.h"
#include "plot/plotstore.h"

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <vector>

class QAbstractSeries;
class QChart;
class QCheckBox;
class QComboBox;
class QDateTimeAxis;
class QDoubleSpinBox;
class QLabel;
class QLineSeries;
class QMessageBox;
class QPushButton;
class QTableView;
class QTimer;
class QValueAxis;
class PlotChartView;
class PlotSeriesModel;
class SaveDialog;

class PlotWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kMaxDrawn = 16;

    // saveDialog asks for the file names of exports; it must outlive the window.
    explicit PlotWindow(SaveDialog *saveDialog, QWidget *parent = nullptr);
    ~PlotWindow() override;

    // A finished frame, without its end character, arrived at time (ms since the epoch).
    void takeFrame(QByteArrayView frame, qint64 time);
    // What "now" is for the live view (ms since the epoch); the system clock by default.
    void setClock(std::function<qint64()> clock);

    const PlotStore &store() const { return m_store; }
    QTableView *seriesTable() const { return m_table; }
    // The text of the error box shown (empty when none); for tests.
    QString shownError() const;
    bool isPaused() const { return m_paused; }

public Q_SLOTS:
    // Redraws the plot and the table now.
    void refresh();
    void clear();
    void setPaused(bool paused);
    // Asks for a file name and writes the CSV; a failure is shown once and leaves no file.
    void exportCsv();
    // Asks for a file name and writes the plot as shown as PNG.
    void saveImage();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildLayout();
    void ensureDrawn(int series);
    void legendClicked();
    void hovered(const QPoint &pos, qreal time);
    void report(const QString &text);
    void scheduleRefresh();
    qint64 spanMs() const;

    SaveDialog *m_saveDialog = nullptr;
    std::function<qint64()> m_clock;
    PlotHeader m_header;
    std::vector<PlotReading> m_readings;
    PlotStore m_store;
    std::vector<PlotStore::Column> m_columns;

    QComboBox *m_span = nullptr;
    QCheckBox *m_autoY = nullptr;
    QDoubleSpinBox *m_yMin = nullptr;
    QDoubleSpinBox *m_yMax = nullptr;
    QPushButton *m_pause = nullptr;
    QLabel *m_status = nullptr;
    QChart *m_chart = nullptr;
    PlotChartView *m_view = nullptr;
    QDateTimeAxis *m_timeAxis = nullptr;
    QValueAxis *m_valueAxis = nullptr;
    std::vector<QLineSeries *> m_lines; // the drawn series, by series index
    QTableView *m_table = nullptr;
    PlotSeriesModel *m_model = nullptr;
    QTimer *m_timer = nullptr;
    QMessageBox *m_errorBox = nullptr;

    bool m_paused = false;
    qint64 m_pausedAt = 0; // the right edge of a paused view
    qint64 m_viewEnd = 0;  // the right edge last drawn
};
