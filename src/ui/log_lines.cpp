#include "log_lines.h"

#include <QtMath>

void LogLines::show(QStringList rows, QSizeF character, int margin)
{
    qsizetype widest = 0;
    for (const QString &row : rows)
        widest = qMax(widest, row.size());
    beginResetModel();
    m_rowSize = QSize(
        qCeil(qreal(widest) * character.width()) + 2 * margin, qCeil(character.height()) + 2);
    m_rows = std::move(rows);
    endResetModel();
}

int LogLines::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant LogLines::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_rows.at(index.row());
    if (role == Qt::SizeHintRole)
        return m_rowSize;
    return {};
}
