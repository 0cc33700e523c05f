#pragma once

#include <QRect>

// The windows' places and sizes are given in twips: 15 twips are one pixel.
constexpr int TwipsPerPixel = 15;

constexpr int Twips(int twips)
{
    return twips / TwipsPerPixel;
}

constexpr QRect TwipsRect(int left, int top, int width, int height)
{
    return QRect(Twips(left), Twips(top), Twips(width), Twips(height));
}
