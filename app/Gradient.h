#pragma once
// Painting of the title strip: a gradient of 256 bands and its edge lines.
#include <cstdint>

class QColor;
class QPainter;
class QRect;

// A 24-bit colour with red in the low byte, green in the middle byte and blue in the high byte.
using TColorRef = uint32_t;

QColor ColorFromRef(TColorRef color);

// a * b / c with a 64-bit intermediate, rounded to the nearest integer, halves away from zero.
// A zero divisor gives -1, as the classic routine does.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// Fills `rect` with 256 bands that blend from `fromColor` to `toColor`, left to right, or top to
// bottom when `vertical` is set.
void PaintGradient(QPainter& canvas, const QRect& rect, TColorRef fromColor, TColorRef toColor,
                   bool vertical);

// A white line down the left edge and a line of `lineColor` along the bottom edge.
void PaintTitleEdges(QPainter& canvas, const QRect& rect, TColorRef lineColor);
