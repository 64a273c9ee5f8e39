#include "app/Gradient.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

TEST(MulDiv, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(1, 1000, 256), 4);  // 3.906
    EXPECT_EQ(MulDiv(1, 128, 256), 1);   // 0.5 rounds up
    EXPECT_EQ(MulDiv(-1, 128, 256), -1); // -0.5 rounds away from zero
    EXPECT_EQ(MulDiv(3, 1, 4), 1);       // 0.75
    EXPECT_EQ(MulDiv(1, 1, 4), 0);       // 0.25
    EXPECT_EQ(MulDiv(-1, 1, 4), 0);
    EXPECT_EQ(MulDiv(5, -34, 255), -1); // -0.667
    EXPECT_EQ(MulDiv(10, 10, -3), -33); // -33.33
    EXPECT_EQ(MulDiv(-10, -10, -4), -25);
}

TEST(MulDiv, KeepsTheFullProductAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(MulDiv(1 << 30, 1 << 30, 1 << 30), 1 << 30);
    EXPECT_EQ(MulDiv(2000000000, 2000000000, 2000000000), 2000000000);
    EXPECT_EQ(MulDiv(INT32_MIN, 1, 1), INT32_MIN);
    EXPECT_EQ(MulDiv(INT32_MAX, 2, 1), -1);
    EXPECT_EQ(MulDiv(7, 3, 0), -1);
}

namespace {

QImage Paint(int width, int height, TColorRef from, TColorRef to, bool vertical, bool edges = false) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    PaintGradient(painter, image.rect(), from, to, vertical);
    if (edges)
        PaintTitleEdges(painter, image.rect(), 0x9B9B9C);
    return image;
}

// The band that covers offset `x` of an extent, by the band edges' own formula.
int BandAt(int x, int extent) {
    for (int i = 0; i < 256; ++i) {
        if (x < MulDiv(i + 1, extent, 256))
            return i;
    }
    return -1;
}

} // namespace

TEST(PaintGradient, FillsEveryColumnWithTheColourOfItsBand) {
    // Black to white makes each band's grey level its own number.
    const int width = 300;
    const QImage image = Paint(width, 5, 0x000000, 0xFFFFFF, false);
    for (int x = 0; x < width; ++x) {
        const int band = BandAt(x, width);
        ASSERT_GE(band, 0);
        for (int y : {0, 4})
            ASSERT_EQ(image.pixelColor(x, y), QColor(band, band, band)) << "x " << x << " y " << y;
    }
    // Band 1 starts at MulDiv(1, 300, 256) = 1, band 2 at MulDiv(2, 300, 256) = 2 (2.34).
    EXPECT_EQ(image.pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(image.pixelColor(width - 1, 0), QColor(255, 255, 255));
}

TEST(PaintGradient, NarrowExtentsSkipEmptyBands) {
    // 100 columns for 256 bands: a column shows the last band that ends after it.
    const QImage image = Paint(100, 2, 0x000000, 0xFFFFFF, false);
    EXPECT_EQ(image.pixelColor(0, 0).red(), BandAt(0, 100));
    EXPECT_EQ(image.pixelColor(50, 0).red(), BandAt(50, 100));
    // Band 254 already ends at the right edge (99.6 rounds to 100), so band 255 is empty.
    EXPECT_EQ(image.pixelColor(99, 0).red(), 254);
}

TEST(PaintGradient, BlendsEachChannelSeparatelyWithRedInTheLowByte) {
    // Pure red to pure blue: red falls as blue rises, green stays 0.
    const QImage image = Paint(256, 1, 0x0000FF, 0xFF0000, false);
    for (int x : {0, 1, 100, 128, 255}) {
        const int step = MulDiv(x, 255, 255);
        EXPECT_EQ(image.pixelColor(x, 0), QColor(255 - step, 0, step)) << x;
    }
    // The title's own colours: 221 at the left, 221 + 34 * i / 255 in band i.
    const QImage title = Paint(512, 1, 0xDDDDDD, 0xFFFFFF, false);
    EXPECT_EQ(title.pixelColor(0, 0), QColor(221, 221, 221));
    EXPECT_EQ(title.pixelColor(2 * 128, 0), QColor(238, 238, 238)); // band 128: 221 + 17.07
    EXPECT_EQ(title.pixelColor(511, 0), QColor(255, 255, 255));
}

TEST(PaintGradient, VerticalRunsTopToBottom) {
    const int height = 70;
    const QImage image = Paint(3, height, 0x000000, 0xFFFFFF, true);
    for (int y = 0; y < height; ++y)
        ASSERT_EQ(image.pixelColor(1, y).red(), BandAt(y, height)) << y;
    EXPECT_EQ(image.pixelColor(0, 0), image.pixelColor(2, 0));
}

TEST(PaintTitleEdges, WhiteLeftEdgeAndGreyBottomEdgeWithoutEndPoints) {
    const QImage image = Paint(40, 10, 0x000000, 0x000000, false, true);
    const QColor grey(156, 155, 155);
    for (int y = 0; y < 9; ++y)
        EXPECT_EQ(image.pixelColor(0, y), QColor(Qt::white)) << y;
    for (int x = 0; x < 40; ++x)
        EXPECT_EQ(image.pixelColor(x, 9), grey) << x;
    // Nothing else is touched.
    EXPECT_EQ(image.pixelColor(1, 0), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(39, 8), QColor(Qt::black));
}
