#pragma once

#include "monitor/reading.h"

namespace glove::bars {

// Where the hand figure's bars go for a reading, in twips within the figure. The thumb
// bar grows to the left of a fixed right edge at 1215; the finger bars slide up and
// down. Value 6 drives two fingers. A width below zero is passed on as computed.
float thumbLeft(const Reading& reading);
float thumbWidth(const Reading& reading);
// Finger 0 to 3, Shape1(0) to Shape1(3).
float fingerTop(const Reading& reading, int finger);

}  // namespace glove::bars
