#pragma once

#include <QAbstractListModel>
#include <QSize>
#include <QSizeF>
#include <QStringList>

// The rows of the log window's list. Every row has the size of the widest, so
// that the list lays out two thousand rows without measuring each of them,
// and a long line is scrolled to rather than cut off. The list's font is of
// fixed pitch: a row is as wide as its characters. A character's width is
// seldom a whole number of pixels (7.22 for a 9 point DejaVu Sans Mono): the
// row is counted in fractions, so that a long line never loses its end.
class LogLines : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    // Replaces every row. `character`: the size of one character of the
    // list's font; `margin`: the room left and right of the text.
    void show(QStringList rows, QSizeF character, int margin);
    const QStringList &rows() const { return m_rows; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    QStringList m_rows;
    QSize m_rowSize;
};
