#pragma once
// A plain panel: a filled background with optional one-pixel edge lines.
#include <QColor>
#include <QWidget>
#include <vector>

class TPanel : public QWidget {
    Q_OBJECT
public:
    enum class TEdge { Top, Bottom, Right };
    struct TLine {
        TEdge Edge;
        QColor Colour;
        // Pixels of the edge left out at its start (top or left).
        int Skip = 0;
    };

    explicit TPanel(QWidget* parent, const QColor& fill);
    void AddLine(TEdge edge, const QColor& colour, int skip = 0);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor FFill;
    std::vector<TLine> FLines;
};
