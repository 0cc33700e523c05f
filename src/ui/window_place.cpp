#include "window_place.h"

#include <QtGlobal>
#include <array>

namespace {

constexpr int Gap = 8; // between the main window and the one beside it, in pixels

} // namespace

QPoint PlaceBeside(const QRect &main, const QSize &size, const QRect &screen, const QRect &menuBar)
{
    const std::array<QPoint, 4> sides = {
        QPoint(main.right() + 1 + Gap, main.top()),
        QPoint(main.left() - Gap - size.width(), main.top()),
        QPoint(main.left(), main.bottom() + 1 + Gap),
        QPoint(main.left(), main.top() - Gap - size.height()),
    };
    for (const QPoint &side : sides) {
        if (screen.contains(QRect(side, size)))
            return side;
    }
    const int left = qMax(screen.left(), qMin(main.left(), screen.right() + 1 - size.width()));
    return QPoint(left, menuBar.bottom() + 1);
}
