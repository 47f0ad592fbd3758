#include "window/hand_figure.h"

#include <QPainter>

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
    store(thumb_.left, left);
}

void HandFigure::setThumbWidth(float width) {
    store(thumb_.width, width);
}

void HandFigure::setFingerTop(int finger, float top) {
    store(fingers_.at(finger).top, top);
}

void HandFigure::store(float& field, float value) {
    // A held pose stores the same places every pass: repaint only what moved.
    if (field == value) return;
    field = value;
    update();
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
