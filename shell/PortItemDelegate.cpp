#include "shell/PortItemDelegate.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace {

// Text cut to Width, with an ellipsis, only when it does not fit (elidedText alone may cut
// a text exactly as wide as the room).
QString Fitted(const QFontMetrics& Metrics, const QString& Text, Qt::TextElideMode Mode,
               int Width) {
    return Metrics.horizontalAdvance(Text) <= Width ? Text : Metrics.elidedText(Text, Mode, Width);
}

// Room for the widest name; the text itself is the item's own.
const QString WidestName = QStringLiteral("COM32");
// Beside the item text's own margins.
constexpr int RowMargins = 12;

} // namespace

TPortItemDelegate::TPortItemDelegate(int DescriptionRoleNumber, int DeviceRoleNumber,
                                     QObject* Parent)
    : QStyledItemDelegate(Parent), DescriptionRole(DescriptionRoleNumber),
      DeviceRole(DeviceRoleNumber) {}

void TPortItemDelegate::FitColumns(const QFontMetrics& Metrics, const QStringList& Descriptions,
                                   const QStringList& Devices) {
    DescriptionWidth = 0;
    DeviceWidth = 0;
    for (const QString& text : Descriptions) {
        DescriptionWidth = std::max(DescriptionWidth, Metrics.horizontalAdvance(text));
    }
    for (const QString& text : Devices) {
        DeviceWidth = std::max(DeviceWidth, Metrics.horizontalAdvance(text));
    }
}

int TPortItemDelegate::Gap(const QFontMetrics& Metrics) const {
    return Metrics.horizontalAdvance(QStringLiteral("   "));
}

int TPortItemDelegate::NameWidth(const QFontMetrics& Metrics) const {
    return Metrics.horizontalAdvance(WidestName) + Gap(Metrics);
}

int TPortItemDelegate::RowWidth(const QFontMetrics& Metrics) const {
    int width = NameWidth(Metrics) + RowMargins;
    if (DescriptionWidth > 0) {
        width += DescriptionWidth + Gap(Metrics);
    }
    return width + DeviceWidth;
}

void TPortItemDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                              const QModelIndex& Index) const {
    QStyleOptionViewItem option = Option;
    initStyleOption(&option, Index);
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &option, Painter, widget);

    const QString description = Index.data(DescriptionRole).toString();
    const QString device = Index.data(DeviceRole).toString();
    if (description.isEmpty() && device.isEmpty()) {
        return;
    }
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &option, widget);
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    const QPalette::ColorRole role =
        option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
    Painter->save();
    Painter->setFont(option.font);
    Painter->setPen(option.palette.color(group, role));
    const QFontMetrics& metrics = option.fontMetrics;
    int x = text.left() + NameWidth(metrics);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    if (DescriptionWidth > 0) {
        const QRect column(x, text.top(), DescriptionWidth, text.height());
        Painter->drawText(column, flags,
                          Fitted(metrics, description, Qt::ElideRight, column.width()));
        x += DescriptionWidth + Gap(metrics);
    }
    const QRect column(x, text.top(), std::max(0, text.right() + 1 - x), text.height());
    Painter->drawText(column, flags, Fitted(metrics, device, Qt::ElideMiddle, column.width()));
    Painter->restore();
}

QSize TPortItemDelegate::sizeHint(const QStyleOptionViewItem& Option,
                                  const QModelIndex& Index) const {
    QSize size = QStyledItemDelegate::sizeHint(Option, Index);
    size.setWidth(std::max(size.width(), RowWidth(Option.fontMetrics)));
    return size;
}
