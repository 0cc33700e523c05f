#pragma once

class QWidget;

// Draws a thin raised edge around a window without a frame, so that it stands
// out from what lies behind it.
void PaintWindowEdge(QWidget &window);
