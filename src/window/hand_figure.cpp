#include "window/hand_figure.h"

#include <QPainter>
#include <cmath>

namespace glove {

HandFigure::HandFigure(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, palette().color(QPalette::HighlightedText));
    setPalette(p);
}

void HandFigure::setThumbLeft(float left) {
    move(thumb_, &Shape::left, left);
}

void HandFigure::setThumbWidth(float width) {
    move(thumb_, &Shape::width, width);
}

void HandFigure::setFingerTop(int finger, float top) {
    move(fingers_.at(finger), &Shape::top, top);
}

void HandFigure::move(Shape& shape, float Shape::*field, float value) {
    // A held pose stores the same places every pass: nothing to paint.
    if (shape.*field == value) return;
    const QRect before = area(shape);
    shape.*field = value;
    // Only the bar's old and new places are painted again, not the whole figure: the
    // window then also sends the display only those pixels.
    update(before.united(area(shape)));
}

QRect HandFigure::area(const Shape& s) const {
    if (s.width <= 0 || s.height <= 0) return {};
    // Clipped to the figure before it becomes whole pixels: a bar placed by absurd readings
    // may lie far outside it, or where no number can say.
    const QRectF r = twips::toPixelsF({s.left, s.top, s.width, s.height});
    if (!std::isfinite(r.left()) || !std::isfinite(r.top()) || !std::isfinite(r.right()) ||
        !std::isfinite(r.bottom())) {
        return contentsRect();
    }
    const QRectF inner(QPointF(0, 0), QSizeF(contentsRect().size()));
    return r.intersected(inner).toAlignedRect().translated(contentsRect().topLeft());
}

std::array<HandFigure::Shape, 6> HandFigure::paintOrder() const {
    // Front to back the window lists the thumb, the palm, then fingers 3 to 0: the thumb
    // lies over the palm's left edge, and the palm over a finger that slides into it.
    return {fingers_[0], fingers_[1], fingers_[2], fingers_[3], palm_, thumb_};
}

void HandFigure::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.translate(contentsRect().topLeft());
    painter.setClipRect(QRect(QPoint(0, 0), contentsRect().size()));
    painter.setPen(QPen(palette().color(QPalette::WindowText), 0));  // one pixel
    painter.setBrush(kSkin);
    for (const Shape& s : paintOrder()) {
        if (s.width <= 0 || s.height <= 0) continue;
        const QRectF r = twips::toPixelsF({s.left, s.top, s.width, s.height});
        // The outline lies inside the shape, as the pen's centre runs half a pixel in.
        painter.drawRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

}  // namespace glove
