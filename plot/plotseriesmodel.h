#pragma once
// The Plot window's series table: one row per series with its name, unit, last value,
// minimum, maximum, mean, count and not-a-number count. It is the plot's equivalent for a
// screen reader, so a refresh touches only the cells whose text changed.

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

class PlotStore;

class PlotSeriesModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void refresh(const PlotStore &store);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<QStringList> m_rows;
};
