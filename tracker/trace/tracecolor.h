#pragma once

#include <QColor>

#include <cstdint>

// Settings keep colours as 0x00BBGGRR values; everything else uses QColor.
inline QColor colorFromBgr(uint32_t color)
{
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

inline uint32_t bgrFromColor(const QColor &color)
{
    return uint32_t(color.red()) | (uint32_t(color.green()) << 8) | (uint32_t(color.blue()) << 16);
}
