#include "app/Gradient.h"

#include <QColor>
#include <QPainter>
#include <QRect>

QColor ColorFromRef(TColorRef color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    // Like the classic routine, a zero divisor or a result outside 32 bits gives -1.
    if (c == 0)
        return -1;
    const int64_t product = static_cast<int64_t>(a) * b;
    const uint64_t numerator =
        product < 0 ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
    const uint64_t divisor =
        c < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(c)) : static_cast<uint64_t>(c);
    const uint64_t magnitude = (2 * numerator + divisor) / (2 * divisor);
    const bool negative = (product < 0) != (c < 0);
    if (magnitude > (negative ? 0x80000000ULL : 0x7FFFFFFFULL))
        return -1;
    return negative ? static_cast<int32_t>(0 - static_cast<int64_t>(magnitude))
                    : static_cast<int32_t>(magnitude);
}

void PaintGradient(QPainter& canvas, const QRect& rect, TColorRef fromColor, TColorRef toColor,
                   bool vertical) {
    const int32_t extent = vertical ? rect.height() : rect.width();
    const int32_t start = vertical ? rect.top() : rect.left();
    const auto channel = [](TColorRef color, int shift) {
        return static_cast<int32_t>((color >> shift) & 0xFF);
    };
    int32_t nearEdge = start;
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t farEdge = start + MulDiv(i + 1, extent, 256);
        int32_t rgb[3];
        for (int c = 0; c < 3; ++c) {
            const int32_t from = channel(fromColor, 8 * c);
            rgb[c] = from + MulDiv(i, channel(toColor, 8 * c) - from, 255);
        }
        const QColor colour(rgb[0], rgb[1], rgb[2]);
        // Bands are half-open: the far edge belongs to the next band.
        if (farEdge > nearEdge) {
            if (vertical)
                canvas.fillRect(QRect(rect.left(), nearEdge, rect.width(), farEdge - nearEdge), colour);
            else
                canvas.fillRect(QRect(nearEdge, rect.top(), farEdge - nearEdge, rect.height()), colour);
        }
        nearEdge = farEdge;
    }
}

void PaintTitleEdges(QPainter& canvas, const QRect& rect, TColorRef lineColor) {
    // Lines leave out their end point; QPainter draws it, so each line stops one pixel short.
    const int left = rect.left();
    const int top = rect.top();
    const int right = rect.left() + rect.width();
    const int bottom = rect.top() + rect.height();
    canvas.save();
    canvas.setRenderHint(QPainter::Antialiasing, false);
    if (bottom > top) {
        canvas.setPen(QPen(Qt::white, 0));
        canvas.drawLine(left, top, left, bottom - 1);
    }
    if (right > left && bottom > top) {
        canvas.setPen(QPen(ColorFromRef(lineColor), 0));
        canvas.drawLine(left, bottom - 1, right - 1, bottom - 1);
    }
    canvas.restore();
}
