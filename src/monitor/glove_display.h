#pragma once

#include <QString>

namespace glove {

// What the Connect loop changes on the window: the text box and the hand figure's bars.
// Positions and sizes are in twips.
class GloveDisplay {
  public:
    virtual ~GloveDisplay() = default;

    virtual void setText(const QString& text) = 0;         // Text1
    virtual void setThumbLeft(float left) = 0;             // Shape3's left edge
    virtual void setThumbWidth(float width) = 0;           // Shape3's width
    virtual void setFingerTop(int finger, float top) = 0;  // Shape1(finger)'s top
};

}  // namespace glove
