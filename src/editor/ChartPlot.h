#pragma once
// The response chart's plot widget: QCustomPlot with layers that redraw, and
// repaint on screen, only the region their content moved through. A drag
// changes a small part of a large chart; clearing, drawing and copying the
// whole chart for every mouse move made the window's speed depend on its size.

#include <qcustomplot.h>

#include <QHash>
#include <QRegion>

namespace ktv {

// A graph whose line, while it is drawn without antialiasing and wider than a
// pixel, is filled as a ribbon around the points instead of stroked: the
// rasteriser does one polygon instead of a thousand wide segments.
class RibbonGraph : public QCPGraph {
    Q_OBJECT
public:
    using QCPGraph::QCPGraph;

protected:
    void drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const override;
};

class ChartPlot : public QCustomPlot {
    Q_OBJECT
public:
    explicit ChartPlot(QWidget* parent = nullptr);

    // A buffered layer above `below` whose changes ReplotLayer redraws in part.
    QCPLayer* AddTrackedLayer(const QString& name, QCPLayer* below);
    // Redraws what changed on `layer` since it was last drawn: the graphs'
    // changed stretches and the moved texts when nothing else changed, the
    // whole chart when the buffers are not set up yet.
    void ReplotLayer(QCPLayer* layer);
    // The region the last ReplotLayer redrew (empty after a whole replot).
    QRegion LastDamage() const { return lastDamage_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct GraphShot {
        bool visible = false;
        QVector<double> keys, values;
        QVector<double> px; // pixel column of each key
        QPen pen;
        QBrush brush;
        bool smooth = false;
        int lineStyle = 0;
        double scatterSize = 0;
        int scatterShape = 0;
        QCPRange keyRange, valueRange;
        QRect axisRect;
    };
    struct TextShot {
        bool visible = false;
        QString text;
        QFont font;
        QSize box; // text and padding; measuring it is the costly part
        QRect bounds;
        QColor color;
    };
    struct LayerShot {
        QHash<const QCPGraph*, GraphShot> graphs;
        QHash<const QCPItemText*, TextShot> texts;
        bool complete = false; // false: something on the layer is not tracked
    };

    // `previous` lends the pixel columns of keys that did not move.
    LayerShot Take(const QCPLayer* layer, const LayerShot* previous) const;
    QRegion Damage(const LayerShot& before, const LayerShot& after) const;
    // Graphs on `layer` reduced to the points that can reach `damage`, and
    // texts outside it hidden; Restore puts everything back once drawn.
    struct Narrowed {
        QList<QPair<QCPGraph*, QSharedPointer<QCPGraphDataContainer>>> data;
        QList<QCPItemText*> hidden;
    };
    Narrowed Narrow(const LayerShot& shot, const QRegion& damage);
    static void Restore(const Narrowed& narrowed);
    void TakeAll();

    QHash<const QCPLayer*, LayerShot> shots_;
    QRegion lastDamage_;
    bool replotWhenShown_ = false;
};

} // namespace ktv
