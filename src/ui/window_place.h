#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where a window of `size` (its frame included) opens beside the main window,
// whose frame is `main`, on the screen area `screen` (global coordinates): to
// its right, else to its left, else below, else above it, the first of these
// that the screen holds. Where none does, it opens over the main window but
// just below its menu bar `menuBar`, so that the menus stay within reach.
QPoint PlaceBeside(const QRect &main, const QSize &size, const QRect &screen, const QRect &menuBar);
