#pragma once

#include <QRect>
#include <QRectF>

namespace glove::twips {

// The window is laid out in twips, 1440 to the inch: 15 to a pixel at 96 dots per inch.
// Qt's device-independent pixels are 96 to the inch, so a high-dpi screen scales it.
inline constexpr double kPerPixel = 15.0;

struct Rect {
    double left;
    double top;
    double width;
    double height;
};

inline QRectF toPixelsF(const Rect& r) {
    return {r.left / kPerPixel, r.top / kPerPixel, r.width / kPerPixel, r.height / kPerPixel};
}

inline QRect toPixels(const Rect& r) {
    return toPixelsF(r).toRect();
}

}  // namespace glove::twips
