#pragma once

#include <QColor>
#include <QPalette>

// The colour a person sees for a colour value of the windows: 0x00BBGGRR, or
// 0x80000000 + n for the window system's colour number n, which is taken from
// the palette (20, the button highlight, is QPalette::Light).
QColor StatusColor(quint32 value, const QPalette &palette);
