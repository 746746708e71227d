#pragma once

#include <QRect>
#include <QSize>

// The window was designed in twips (1/1440 inch); at 96 dots per inch fifteen
// twips make one pixel. Qt scales the pixels for high-density screens (Qt's
// "High DPI" documentation).
namespace twips
{

constexpr int perPixel = 15;

constexpr int pixels(int twips)
{
    return (twips + perPixel / 2) / perPixel;
}

inline QRect rect(int left, int top, int width, int height)
{
    return {pixels(left), pixels(top), pixels(width), pixels(height)};
}

inline QSize size(int width, int height)
{
    return {pixels(width), pixels(height)};
}

} // namespace twips
