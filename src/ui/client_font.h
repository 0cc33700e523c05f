#pragma once

#include <QFont>

// The type of the windows' labels and buttons. Their places and sizes are
// fixed in pixels, so the type is fixed in pixels too: an 11-pixel face
// matches the small type that those sizes were made for.
constexpr int ClientFontPixels = 11;

inline QFont ClientFont(QFont base)
{
    base.setPixelSize(ClientFontPixels);
    return base;
}

// The large bold "QX-USB Server" of the splash window and the About dialog.
constexpr qreal TitleFontPoints = 22.5;

inline QFont TitleFont(QFont base)
{
    base.setPointSizeF(TitleFontPoints);
    base.setBold(true);
    return base;
}
