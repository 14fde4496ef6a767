#include "plot/plotseriesmodel.h"

#include "plot/plotstore.h"

namespace {

const char *const kColumns[] = {"Name",    "Unit", "Last",  "Minimum",
                                "Maximum", "Mean", "Count", "Not a number"};
constexpr int kColumnCount = int(std::size(kColumns));

QString number(double v)
{
    return QString::number(v, 'g', 10);
}

QStringList rowFor(const PlotStore::Stats &s)
{
    const bool any = s.count > 0;
    return {s.name,
            s.unit,
            any ? number(s.last) : QString(),
            any ? number(s.min) : QString(),
            any ? number(s.max) : QString(),
            any ? number(s.mean()) : QString(),
            QString::number(s.count),
            QString::number(s.notNumbers)};
}

} // namespace

void PlotSeriesModel::refresh(const PlotStore &store)
{
    const int rows = store.seriesCount();
    if (rows < m_rows.size()) {
        beginResetModel();
        m_rows.clear();
        for (int i = 0; i < rows; ++i)
            m_rows.append(rowFor(store.stats(i)));
        endResetModel();
        return;
    }
    for (int i = 0; i < int(m_rows.size()); ++i) {
        QStringList row = rowFor(store.stats(i));
        int first = kColumnCount;
        int last = -1;
        for (int c = 0; c < kColumnCount; ++c) {
            if (row[c] != m_rows[i][c]) {
                first = std::min(first, c);
                last = c;
            }
        }
        if (last < 0)
            continue;
        m_rows[i] = std::move(row);
        Q_EMIT dataChanged(index(i, first), index(i, last), {Qt::DisplayRole});
    }
    if (rows > m_rows.size()) {
        beginInsertRows(QModelIndex(), int(m_rows.size()), rows - 1);
        for (int i = int(m_rows.size()); i < rows; ++i)
            m_rows.append(rowFor(store.stats(i)));
        endInsertRows();
    }
}

int PlotSeriesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int PlotSeriesModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant PlotSeriesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return m_rows[index.row()][index.column()];
    if (role == Qt::TextAlignmentRole && index.column() >= 2)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant PlotSeriesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kColumnCount)
        return QString::fromLatin1(kColumns[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}
