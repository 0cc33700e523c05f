#include "log_row_painter.h"

#include <QAbstractItemView>
#include <QPainter>

LogRowPainter::LogRowPainter(QAbstractItemView *view, int margin)
    : QStyledItemDelegate(view)
    , m_view(view)
    , m_margin(margin)
{ }

void LogRowPainter::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QString text = index.data(Qt::DisplayRole).toString();
    const qreal characterWidth
        = qMax(qreal(1), QFontMetricsF(option.font).horizontalAdvance(QLatin1Char('0')));
    const QRect shown = m_view->viewport()->rect();
    const int textLeft = option.rect.left() + m_margin;
    const int first = qMax(0, int((shown.left() - textLeft) / characterWidth));
    const int count = int(shown.width() / characterWidth) + 2;
    painter->save();
    painter->setFont(option.font);
    painter->setPen(option.palette.color(QPalette::Text));
    painter->drawText(QRectF(textLeft + first * characterWidth, option.rect.top(),
                          count * characterWidth, option.rect.height()),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text.mid(first, count));
    painter->restore();
}
