#pragma once

#include <QStyledItemDelegate>

class QAbstractItemView;

// Paints a row of the log window's list: only the characters that fall into
// the part of the row the list shows. A line of frames can be thousands of
// characters long; laying all of them out on every update of a flood would
// hold up the program (20 ms for a screen of such rows, against 1 ms).
// The list's font is of fixed pitch, so a character's place is its index
// times the width of one character.
class LogRowPainter : public QStyledItemDelegate
{
public:
    // `margin`: the room left of the text.
    LogRowPainter(QAbstractItemView *view, int margin);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;

private:
    QAbstractItemView *m_view; // the list it paints for, its parent
    int m_margin;
};
