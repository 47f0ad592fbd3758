#pragma once

#include <QFrame>
#include <array>

#include "window/twips.h"

namespace glove {

// The hand drawn from six rectangles: the thumb bar Shape3, the palm Shape2 and the four
// finger bars Shape1(0) to Shape1(3). It only paints; the Connect loop moves the bars
// through the setters. Geometry is in twips within the figure's inner area, held as
// single-precision numbers (a bar's top can be 262.5).
class HandFigure final : public QFrame {
    Q_OBJECT

  public:
    struct Shape {
        float left;
        float top;
        float width;
        float height;
    };
    static constexpr int kFingerCount = 4;
    static constexpr QColor kSkin{255, 224, 192};

    explicit HandFigure(QWidget* parent = nullptr);

    void setThumbLeft(float left);
    void setThumbWidth(float width);
    void setFingerTop(int finger, float top);

    [[nodiscard]] Shape thumb() const { return thumb_; }
    [[nodiscard]] Shape finger(int index) const { return fingers_.at(index); }
    // The shapes from back to front, as they are painted.
    [[nodiscard]] std::array<Shape, 6> paintOrder() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void move(Shape& shape, float Shape::*field, float value);
    // Where a shape lies in the widget, in whole pixels.
    [[nodiscard]] QRect area(const Shape& s) const;

    Shape thumb_{720, 1440, 495, 375};   // Shape3
    Shape palm_{1200, 1080, 1335, 855};  // Shape2
    std::array<Shape, kFingerCount> fingers_{{
        {1200, 360, 255, 735},  // Shape1(0)
        {1560, 360, 255, 735},  // Shape1(1)
        {1920, 360, 255, 735},  // Shape1(2)
        {2280, 360, 255, 735},  // Shape1(3)
    }};
};

}  // namespace glove
