#include "plot/plotwindow.h"

#include "capture/savedialog.h"
#include "plot/plotseriesmodel.h"

#include <QAction>
#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

// The chart, telling the window where the mouse is in time.
class PlotChartView : public QChartView
{
public:
    PlotChartView(QChart *chart, std::function<void(const QPoint &, qreal)> hover)
        : QChartView(chart)
        , m_hover(std::move(hover))
    {
        setMouseTracking(true);
        setRenderHint(QPainter::Antialiasing, false);
    }

    // How long the last painting took, in milliseconds.
    qint64 lastPaintMs() const { return m_paintMs; }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QElapsedTimer t;
        t.start();
        QChartView::paintEvent(event);
        m_paintMs = t.elapsed();
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        const QPointF at = chart()->mapToValue(event->position());
        if (chart()->plotArea().contains(event->position()))
            m_hover(event->globalPosition().toPoint(), at.x());
        QChartView::mouseMoveEvent(event);
    }

private:
    std::function<void(const QPoint &, qreal)> m_hover;
    qint64 m_paintMs = 0;
};

namespace {

struct Span
{
    const char *text;
    qint64 ms; // 0: all
};
constexpr Span kSpans[] = {
    {"10 s", 10'000}, {"1 min", 60'000}, {"10 min", 600'000}, {"1 h", 3'600'000}, {"All", 0},
};

// The default refresh: 25 times a second at most.
constexpr int kRefreshMs = 40;

} // namespace

PlotWindow::PlotWindow(SaveDialog *saveDialog, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_saveDialog(saveDialog)
    , m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    setWindowTitle(QStringLiteral("Plot"));
    setObjectName(QStringLiteral("plotWindow"));
    buildLayout();
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &PlotWindow::refresh);
}

PlotWindow::~PlotWindow() = default;

void PlotWindow::buildLayout()
{
    auto *controls = new QHBoxLayout;
    auto *spanLabel = new QLabel(QStringLiteral("&Span:"), this);
    m_span = new QComboBox(this);
    m_span->setObjectName(QStringLiteral("span"));
    for (const Span &s : kSpans)
        m_span->addItem(QString::fromLatin1(s.text));
    m_span->setCurrentIndex(1);
    spanLabel->setBuddy(m_span);
    m_autoY = new QCheckBox(QStringLiteral("&Automatic Y range"), this);
    m_autoY->setObjectName(QStringLiteral("autoY"));
    m_autoY->setChecked(true);
    auto makeBound = [this](const char *name, double value) {
        auto *box = new QDoubleSpinBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(-1e15, 1e15);
        box->setDecimals(3);
        box->setValue(value);
        box->setEnabled(false);
        return box;
    };
    m_yMin = makeBound("yMin", 0);
    m_yMax = makeBound("yMax", 100);
    auto *minLabel = new QLabel(QStringLiteral("Mi&n:"), this);
    minLabel->setBuddy(m_yMin);
    auto *maxLabel = new QLabel(QStringLiteral("Ma&x:"), this);
    maxLabel->setBuddy(m_yMax);
    m_pause = new QPushButton(QStringLiteral("&Pause"), this);
    m_pause->setObjectName(QStringLiteral("pause"));
    m_pause->setCheckable(true);
    m_pause->setToolTip(QStringLiteral("Pause the view; collection goes on (Space)"));
    auto *clearButton = new QPushButton(QStringLiteral("C&lear"), this);
    clearButton->setObjectName(QStringLiteral("clear"));
    auto *exportButton = new QPushButton(QStringLiteral("&Export CSV…"), this);
    exportButton->setObjectName(QStringLiteral("exportCsv"));
    exportButton->setToolTip(QStringLiteral("Ctrl+S"));
    auto *imageButton = new QPushButton(QStringLiteral("Save &image…"), this);
    imageButton->setObjectName(QStringLiteral("saveImage"));
    for (QWidget *w :
         std::initializer_list<QWidget *>{spanLabel, m_span, m_autoY, minLabel, m_yMin, maxLabel,
                                          m_yMax, m_pause, clearButton, exportButton, imageButton})
        controls->addWidget(w);
    controls->addStretch();

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignTop);
    m_timeAxis = new QDateTimeAxis(m_chart);
    m_timeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    m_timeAxis->setTickCount(6);
    // A time axis added with its default range is left out of the chart's layout for good,
    // even once it has a range: give it one first.
    const QDateTime now = QDateTime::currentDateTime();
    m_timeAxis->setRange(now.addSecs(-60), now);
    m_valueAxis = new QValueAxis(m_chart);
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_chart->addAxis(m_valueAxis, Qt::AlignLeft);
    m_view = new PlotChartView(m_chart, [this](const QPoint &p, qreal t) { hovered(p, t); });
    m_view->setObjectName(QStringLiteral("chart"));
    m_view->setAccessibleName(
        QStringLiteral("Plot of the series; the table below holds the values"));
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_view->setMinimumSize(400, 300);
    // Space pauses where no control takes it (a focused button or box keeps its own Space).
    m_view->setFocusPolicy(Qt::StrongFocus);

    m_model = new PlotSeriesModel(this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("seriesTable"));
    m_table->setAccessibleName(QStringLiteral("Series"));
    m_table->setModel(m_model);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_view);
    split->addWidget(m_table);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setSizes({440, 160});

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(split, 1);
    layout->addWidget(m_status);
    resize(900, 620);

    auto *exportAction = new QAction(QStringLiteral("Export CSV…"), this);
    exportAction->setObjectName(QStringLiteral("act_exportCsv"));
    exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    exportAction->setShortcutContext(Qt::WindowShortcut);
    addAction(exportAction);
    auto *imageAction = new QAction(QStringLiteral("Save image…"), this);
    imageAction->setObjectName(QStringLiteral("act_saveImage"));
    m_view->addAction(imageAction);
    m_view->addAction(exportAction);

    connect(exportAction, &QAction::triggered, this, &PlotWindow::exportCsv);
    connect(exportButton, &QPushButton::clicked, this, &PlotWindow::exportCsv);
    connect(imageAction, &QAction::triggered, this, &PlotWindow::saveImage);
    connect(imageButton, &QPushButton::clicked, this, &PlotWindow::saveImage);
    connect(clearButton, &QPushButton::clicked, this, &PlotWindow::clear);
    connect(m_pause, &QPushButton::toggled, this, &PlotWindow::setPaused);
    connect(m_span, &QComboBox::currentIndexChanged, this, &PlotWindow::scheduleRefresh);
    connect(m_autoY, &QCheckBox::toggled, this, [this](bool on) {
        m_yMin->setEnabled(!on);
        m_yMax->setEnabled(!on);
        scheduleRefresh();
    });
    for (QDoubleSpinBox *box : {m_yMin, m_yMax})
        connect(box, &QDoubleSpinBox::valueChanged, this, &PlotWindow::scheduleRefresh);
}

void PlotWindow::setClock(std::function<qint64()> clock)
{
    m_clock = std::move(clock);
}

void PlotWindow::takeFrame(QByteArrayView frame, qint64 time)
{
    parsePlotFields(frame, m_header, m_readings);
    if (m_readings.empty())
        return;
    m_store.addFrame(time, m_readings);
    if (!m_timer->isActive() && isVisible())
        m_timer->start(kRefreshMs);
}

void PlotWindow::scheduleRefresh()
{
    if (!m_timer->isActive())
        m_timer->start(0);
}

void PlotWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!focusWidget())
        m_view->setFocus();
    scheduleRefresh();
}

void PlotWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        setPaused(!m_paused);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

qint64 PlotWindow::spanMs() const
{
    return kSpans[std::clamp(m_span->currentIndex(), 0, int(std::size(kSpans)) - 1)].ms;
}

void PlotWindow::ensureDrawn(int series)
{
    if (series < int(m_lines.size()))
        return;
    // Sixteen colours told apart, one per line drawn.
    static const QRgb kColours[kMaxDrawn] = {
        0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
        0xbcbd22, 0x17becf, 0x393b79, 0xad494a, 0x637939, 0xe7969c, 0x3182bd, 0x000000};
    auto *line = new QLineSeries(m_chart);
    line->setColor(QColor(kColours[series % kMaxDrawn]));
    m_chart->addSeries(line);
    line->attachAxis(m_timeAxis);
    line->attachAxis(m_valueAxis);
    for (QLegendMarker *marker : m_chart->legend()->markers(line))
        connect(marker, &QLegendMarker::clicked, this, &PlotWindow::legendClicked);
    m_lines.push_back(line);
}

void PlotWindow::legendClicked()
{
    auto *marker = qobject_cast<QLegendMarker *>(sender());
    if (!marker)
        return;
    QAbstractSeries *line = marker->series();
    line->setVisible(!line->isVisible());
    marker->setVisible(true); // the entry stays, dimmed, so it can be clicked again
    QColor label = marker->labelBrush().color();
    label.setAlphaF(line->isVisible() ? 1.0 : 0.4);
    marker->setLabelBrush(label);
    scheduleRefresh();
}

void PlotWindow::refresh()
{
    QElapsedTimer cost;
    cost.start();
    m_model->refresh(m_store);
    const qint64 now = m_paused ? m_pausedAt : m_clock();
    const qint64 span = spanMs();
    qint64 end = now;
    qint64 start = end - span;
    if (span == 0) {
        end = std::max(now, m_store.lastTime());
        start = m_store.frameCount() ? std::min(m_store.firstTime(), end - 1000) : end - 60'000;
    }
    m_viewEnd = end;
    const int width = std::max(1, int(m_chart->plotArea().width()));
    const int drawn = std::min(m_store.seriesCount(), kMaxDrawn);
    double lo = INFINITY;
    double hi = -INFINITY;
    QList<QPointF> points;
    for (int i = 0; i < drawn; ++i) {
        ensureDrawn(i);
        QLineSeries *line = m_lines[size_t(i)];
        // The unit may come with a later reading than the name.
        const PlotStore::Stats &st = m_store.stats(i);
        const QString name =
            st.unit.isEmpty() ? st.name : st.name + QStringLiteral(" (") + st.unit + u')';
        if (line->name() != name)
            line->setName(name);
        if (!line->isVisible())
            continue;
        // Time end + 1: a frame that arrived at end is in the span.
        m_store.reduce(i, start, end + 1, width, m_columns);
        points.clear();
        points.reserve(qsizetype(m_columns.size()) * 2);
        const double step = double(end + 1 - start) / width;
        for (const PlotStore::Column &c : m_columns) {
            const double x = double(start) + step * (c.column + 0.5);
            points.append(QPointF(x, c.min));
            if (c.max != c.min)
                points.append(QPointF(x, c.max));
            lo = std::min(lo, c.min);
            hi = std::max(hi, c.max);
        }
        line->replace(points);
    }
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(start),
                         QDateTime::fromMSecsSinceEpoch(end));
    if (!m_autoY->isChecked() && m_yMin->value() < m_yMax->value()) {
        m_valueAxis->setRange(m_yMin->value(), m_yMax->value());
    } else if (lo <= hi) {
        const double pad = lo == hi ? std::max(1.0, std::fabs(lo) * 0.05) : (hi - lo) * 0.05;
        m_valueAxis->setRange(lo - pad, hi + pad);
        m_valueAxis->applyNiceNumbers();
    }

    QStringList status;
    if (m_store.seriesCount() > kMaxDrawn)
        status << QStringLiteral("%1 more series not shown").arg(m_store.seriesCount() - kMaxDrawn);
    if (m_store.droppedPoints() > 0)
        status << QStringLiteral("%1 oldest points dropped").arg(m_store.droppedPoints());
    if (m_store.ignoredReadings() > 0)
        status << QStringLiteral("%1 readings of names past %2 series not kept")
                      .arg(m_store.ignoredReadings())
                      .arg(PlotStore::kMaxSeries);
    if (m_paused)
        status << QStringLiteral("Paused: collection goes on");
    const QString text = status.join(QStringLiteral("; "));
    if (m_status->text() != text)
        m_status->setText(text);

    // Live, the view follows the clock. Drawing (this and the painting it causes) may take
    // at most a twentieth of the time, so a plot of many points cannot slow the receive path.
    if (isVisible() && !m_paused) {
        const qint64 spent = cost.elapsed() + m_view->lastPaintMs();
        m_timer->start(int(std::clamp<qint64>(spent * 20, kRefreshMs, 2000)));
    }
}

void PlotWindow::clear()
{
    m_store.clear();
    m_header = PlotHeader();
    for (QLineSeries *line : m_lines)
        m_chart->removeSeries(line);
    qDeleteAll(m_lines);
    m_lines.clear();
    scheduleRefresh();
}

void PlotWindow::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    m_pausedAt = m_viewEnd ? m_viewEnd : m_clock();
    m_pause->setChecked(paused);
    m_pause->setText(paused ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
    scheduleRefresh();
}

void PlotWindow::hovered(const QPoint &globalPos, qreal time)
{
    const qint64 t = qint64(std::llround(time));
    QStringList lines{QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("HH:mm:ss.zzz"))};
    for (int i = 0; i < int(m_lines.size()); ++i) {
        if (!m_lines[size_t(i)]->isVisible())
            continue;
        if (const auto p = m_store.pointAt(i, t)) {
            const PlotStore::Stats &s = m_store.stats(i);
            lines << QStringLiteral("%1: %2 %3")
                         .arg(s.name, QString::number(p->value, 'g', 10), s.unit);
        }
    }
    QToolTip::showText(globalPos, lines.join(u'\n'), m_view);
}

void PlotWindow::exportCsv()
{
    m_saveDialog->ShowSaveAs(this);
    const QString name = m_saveDialog->FileName();
    if (name.isEmpty())
        return;
    // Written beside the target and renamed over it once complete: a failure leaves the
    // old file, or none, never half a table.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || !m_store.writeCsv(file) || !file.commit()) {
        const QString error = file.errorString();
        file.cancelWriting();
        report(QStringLiteral("The CSV file \"%1\" could not be written: %2").arg(name, error));
    }
}

void PlotWindow::saveImage()
{
    m_saveDialog->ShowSaveAs(this);
    const QString name = m_saveDialog->FileName();
    if (name.isEmpty())
        return;
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || !m_view->grab().save(&file, "PNG") || !file.commit()) {
        const QString error = file.errorString();
        file.cancelWriting();
        report(QStringLiteral("The image \"%1\" could not be written: %2").arg(name, error));
    }
}

void PlotWindow::report(const QString &text)
{
    if (!m_errorBox) {
        m_errorBox = new QMessageBox(QMessageBox::Warning, QStringLiteral("Plot"), text,
                                     QMessageBox::Ok, this);
        m_errorBox->setObjectName(QStringLiteral("plotError"));
        m_errorBox->setWindowModality(Qt::NonModal);
    }
    m_errorBox->setText(text);
    m_errorBox->show();
}

QString PlotWindow::shownError() const
{
    return m_errorBox && m_errorBox->isVisible() ? m_errorBox->text() : QString();
}
