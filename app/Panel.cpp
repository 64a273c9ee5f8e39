#include "app/Panel.h"

#include <QPainter>

TPanel::TPanel(QWidget* parent, const QColor& fill) : QWidget(parent), FFill(fill) {}

void TPanel::AddLine(TEdge edge, const QColor& colour, int skip) {
    FLines.push_back({edge, colour, skip});
    update();
}

void TPanel::paintEvent(QPaintEvent* event) {
    (void)event;
    QPainter painter(this);
    painter.fillRect(rect(), FFill);
    for (const TLine& line : FLines) {
        painter.setPen(QPen(line.Colour, 0));
        switch (line.Edge) {
        case TEdge::Top:
            painter.drawLine(line.Skip, 0, width() - 1, 0);
            break;
        case TEdge::Bottom:
            painter.drawLine(line.Skip, height() - 1, width() - 1, height() - 1);
            break;
        case TEdge::Right:
            painter.drawLine(width() - 1, line.Skip, width() - 1, height() - 1);
            break;
        }
    }
}
