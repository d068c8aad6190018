// Paints a row of the port dialog's drop-down list: the "COMn" text as usual, then the
// port's description and device in two columns beside it, in the row's own colour (so a
// dimmed, absent port is dimmed throughout).
#pragma once

#include <QStyledItemDelegate>

class TPortItemDelegate : public QStyledItemDelegate {
public:
    TPortItemDelegate(int DescriptionRole, int DeviceRole, QObject* Parent = nullptr);

    // Widens the columns to these texts' widths in Metrics.
    void FitColumns(const QFontMetrics& Metrics, const QStringList& Descriptions,
                    const QStringList& Devices);
    // The width a row needs for its name and both columns.
    int RowWidth(const QFontMetrics& Metrics) const;

    void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
               const QModelIndex& Index) const override;
    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;

private:
    int NameWidth(const QFontMetrics& Metrics) const;
    int Gap(const QFontMetrics& Metrics) const;

    const int DescriptionRole;
    const int DeviceRole;
    int DescriptionWidth = 0;
    int DeviceWidth = 0;
};
