#include "window_edge.h"

#include <QPainter>
#include <QWidget>
#include <qdrawutil.h>

void PaintWindowEdge(QWidget &window)
{
    QPainter painter(&window);
    qDrawShadePanel(&painter, window.rect(), window.palette(), false, 1);
}
