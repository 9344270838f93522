#include "editor/ChartPlot.h"

#include <QCoreApplication>
#include <QPaintEngine>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ktv {

namespace {

// A graph's changed stretch is split into pieces of this many points, each
// damaging only its own height, so a curve moving in two places does not
// damage everything in between.
constexpr int PieceLength = 24;
// Past this many rectangles a region costs more to clip to than it saves.
constexpr int MaxDamageRects = 48;
// Points kept on either side of a damaged span when a graph is narrowed.
constexpr int NarrowReach = 3;

// A buffered layer that can clear and draw just a region of its buffer and
// have just that region repainted.
class PartialLayer : public QCPLayer {
public:
    using QCPLayer::QCPLayer;

    // False when the layer has no valid buffer of its own: the caller
    // replots the whole chart instead.
    bool Redraw(const QRegion& region)
    {
        const QSharedPointer<QCPAbstractPaintBuffer> buffer = mPaintBuffer.toStrongRef();
        if (mode() != lmBuffered || !buffer || buffer->invalidated())
            return false;
        if (region.isEmpty())
            return true;
        QCPPainter* painter = buffer->startPainting();
        QPaintDevice* device = painter->device();
        QPaintEngine* engine = painter->paintEngine();
        // The system clip bounds all drawing, the clip rectangles the layer
        // sets per item included; it is read when painting begins.
        painter->end();
        const double ratio = buffer->devicePixelRatio();
        engine->setSystemClip(ratio == 1.0 ? region : QTransform::fromScale(ratio, ratio).map(region));
        painter->begin(device);
        painter->setCompositionMode(QPainter::CompositionMode_Source);
        painter->fillRect(region.boundingRect(), Qt::transparent);
        painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
        draw(painter);
        delete painter;
        buffer->donePainting();
        engine->setSystemClip(QRegion());
        buffer->setInvalidated(false);
        mParentPlot->update(region);
        return true;
    }
};

QRect PixelBox(double x0, double y0, double x1, double y1, double margin)
{
    return QRectF(QPointF(std::min(x0, x1) - margin, std::min(y0, y1) - margin),
                  QPointF(std::max(x0, x1) + margin, std::max(y0, y1) + margin))
        .toAlignedRect();
}

// The size of QCPItemText's box: the text's bounds plus the padding.
QSize TextBox(const QCPItemText* item)
{
    const QFontMetrics metrics(item->font());
    const QRect text = metrics.boundingRect(0, 0, 0, 0, Qt::TextDontClip | item->textAlignment(), item->text());
    const QMargins pad = item->padding();
    return {text.width() + pad.left() + pad.right(), text.height() + pad.top() + pad.bottom()};
}

// Where QCPItemText draws a box of that size: aligned on its position.
QRect TextBounds(const QCPItemText* item, QSize box)
{
    const QPointF p = item->position->pixelPosition();
    const Qt::Alignment a = item->positionAlignment();
    double x = p.x(), y = p.y();
    if (a & Qt::AlignHCenter)
        x -= box.width() / 2.0;
    else if (a & Qt::AlignRight)
        x -= box.width();
    if (a & Qt::AlignVCenter)
        y -= box.height() / 2.0;
    else if (a & Qt::AlignBottom)
        y -= box.height();
    return PixelBox(x, y, x + box.width(), y + box.height(), 2 + item->pen().widthF());
}

} // namespace

ChartPlot::ChartPlot(QWidget* parent) : QCustomPlot(parent)
{
    // After a whole replot every tracked layer is drawn as it is now.
    connect(this, &QCustomPlot::afterReplot, this, &ChartPlot::TakeAll);
}

QCPLayer* ChartPlot::AddTrackedLayer(const QString& name, QCPLayer* below)
{
    auto* layer = new PartialLayer(this, name);
    mLayers.insert(below->index() + 1, layer);
    updateLayerIndices();
    layer->setMode(QCPLayer::lmBuffered);
    setupPaintBuffers();
    shots_.insert(layer, LayerShot{});
    return layer;
}

void ChartPlot::ReplotLayer(QCPLayer* layer)
{
    // Nothing to show yet: the whole chart is drawn once it is shown.
    if (!isVisible()) {
        replotWhenShown_ = true;
        return;
    }
    auto* partial = dynamic_cast<PartialLayer*>(layer);
    if (!partial || !shots_.contains(layer) || hasInvalidatedPaintBuffers()) {
        replot();
        return;
    }
    const auto was = shots_.constFind(layer);
    LayerShot now = Take(layer, &was.value());
    const QRegion damage = Damage(was.value(), now);
    // Stroking and filling a long curve costs the same however little of it
    // falls inside the clip, so the graphs are drawn from the points near
    // the damage only.
    const Narrowed narrowed = Narrow(now, damage);
    const bool redrawn = partial->Redraw(damage);
    Restore(narrowed);
    if (!redrawn) {
        replot();
        return;
    }
    shots_.insert(layer, std::move(now));
    lastDamage_ = damage;
}

void ChartPlot::showEvent(QShowEvent* event)
{
    QCustomPlot::showEvent(event);
    if (replotWhenShown_) {
        replotWhenShown_ = false;
        replot(rpQueuedReplot);
    }
}

void ChartPlot::TakeAll()
{
    // Everything is drawn as it is now: a replot still waiting (the chart
    // asks for one as it is made, and when shown) would draw the same again.
    replotWhenShown_ = false;
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    for (auto it = shots_.begin(); it != shots_.end(); ++it)
        it.value() = Take(it.key(), &it.value());
    lastDamage_ = QRegion();
}

ChartPlot::LayerShot ChartPlot::Take(const QCPLayer* layer, const LayerShot* previous) const
{
    LayerShot shot;
    shot.complete = true;
    for (QCPLayerable* child : layer->children()) {
        if (auto* graph = qobject_cast<QCPGraph*>(child)) {
            GraphShot g;
            g.visible = graph->realVisibility();
            const auto data = graph->data();
            g.keys.reserve(data->size());
            g.values.reserve(data->size());
            for (auto it = data->constBegin(); it != data->constEnd(); ++it) {
                g.keys.push_back(it->key);
                g.values.push_back(it->value);
            }
            g.pen = graph->pen();
            g.brush = graph->brush();
            g.smooth = graph->antialiased() || graph->antialiasedFill();
            g.lineStyle = int(graph->lineStyle());
            g.scatterSize = graph->scatterStyle().size();
            g.scatterShape = int(graph->scatterStyle().shape());
            g.keyRange = graph->keyAxis()->range();
            g.valueRange = graph->valueAxis()->range();
            g.axisRect = graph->keyAxis()->axisRect()->rect();
            const auto before = previous ? previous->graphs.constFind(graph) : shot.graphs.constEnd();
            if (previous && before != previous->graphs.constEnd() && before->keys == g.keys &&
                before->keyRange == g.keyRange && before->axisRect == g.axisRect) {
                g.px = before->px;
            } else {
                g.px.reserve(g.keys.size());
                for (double key : g.keys)
                    g.px.push_back(graph->keyAxis()->coordToPixel(key));
            }
            shot.graphs.insert(graph, std::move(g));
        } else if (auto* text = qobject_cast<QCPItemText*>(child)) {
            TextShot t;
            t.visible = text->realVisibility();
            t.text = text->text();
            t.color = text->color();
            t.font = text->font();
            const auto before = previous ? previous->texts.constFind(text) : shot.texts.constEnd();
            const bool measured = previous && before != previous->texts.constEnd() && before->text == t.text &&
                                  before->font == t.font && before->box.isValid();
            if (t.visible && text->rotation() == 0) {
                t.box = measured ? before->box : TextBox(text);
                t.bounds = TextBounds(text, t.box);
            } else {
                t.bounds = rect();
            }
            shot.texts.insert(text, t);
        } else {
            shot.complete = false;
        }
    }
    return shot;
}

QRegion ChartPlot::Damage(const LayerShot& before, const LayerShot& after) const
{
    if (!before.complete || !after.complete)
        return QRegion(rect());
    QRegion damage;
    auto add = [&damage](const QRect& r) { damage += r; };

    for (auto it = after.graphs.constBegin(); it != after.graphs.constEnd(); ++it) {
        const QCPGraph* graph = it.key();
        const GraphShot& now = it.value();
        const auto found = before.graphs.constFind(graph);
        const GraphShot* was = found == before.graphs.constEnd() ? nullptr : &found.value();
        if (!now.visible && (!was || !was->visible))
            continue;
        if (!was || now.keyRange != was->keyRange || now.valueRange != was->valueRange || now.axisRect != was->axisRect) {
            add(now.axisRect.adjusted(-20, -20, 20, 20));
            if (was)
                add(was->axisRect.adjusted(-20, -20, 20, 20));
            continue;
        }
        const QCPAxis* keyAxis = graph->keyAxis();
        const QCPAxis* valueAxis = graph->valueAxis();
        const bool lines = now.lineStyle != int(QCPGraph::lsNone);
        const double margin = 2 + std::max(now.pen.widthF(), was->pen.widthF()) / 2 +
                              std::max(now.scatterSize, was->scatterSize) / 2;
        // The fill reaches to the zero line (or the nearer end of the axis).
        const double base = valueAxis->coordToPixel(std::clamp(0.0, now.valueRange.lower, now.valueRange.upper));
        const bool filled = now.brush.style() != Qt::NoBrush || was->brush.style() != Qt::NoBrush;

        const bool restyled = now.visible != was->visible || now.pen != was->pen || now.brush != was->brush ||
                              now.smooth != was->smooth || now.lineStyle != was->lineStyle ||
                              now.scatterSize != was->scatterSize || now.scatterShape != was->scatterShape ||
                              now.keys.size() != was->keys.size();
        // Pieces of points [from, to] of both the old and the new data.
        auto piece = [&](const GraphShot& s, int from, int to) {
            const int n = int(s.keys.size());
            from = std::max(from, 0);
            to = std::min(to, n - 1);
            if (from > to)
                return;
            double lo = s.values[from], hi = lo;
            for (int i = from + 1; i <= to; ++i) {
                lo = std::min(lo, s.values[i]);
                hi = std::max(hi, s.values[i]);
            }
            const double y0 = valueAxis->coordToPixel(lo), y1 = valueAxis->coordToPixel(hi);
            add(PixelBox(keyAxis->coordToPixel(s.keys[from]), filled ? std::min({y0, y1, base}) : y0,
                         keyAxis->coordToPixel(s.keys[to]), filled ? std::max({y0, y1, base}) : y1, margin));
        };
        auto pieces = [&](const GraphShot& s, int from, int to) {
            if (!s.visible)
                return;
            const int reach = lines ? 1 : 0; // a changed point moves the segments on both sides
            for (int a = from; a <= to; a += PieceLength)
                piece(s, a - reach, std::min(a + PieceLength - 1, to) + reach);
        };
        if (restyled) {
            pieces(*was, 0, int(was->keys.size()) - 1);
            pieces(now, 0, int(now.keys.size()) - 1);
            continue;
        }
        const int n = int(now.keys.size());
        if (lines) {
            int first = 0, last = n - 1;
            while (first < n && now.keys[first] == was->keys[first] && now.values[first] == was->values[first])
                ++first;
            while (last > first && now.keys[last] == was->keys[last] && now.values[last] == was->values[last])
                --last;
            if (first < n) {
                pieces(*was, first, last);
                pieces(now, first, last);
            }
        } else {
            for (int i = 0; i < n; ++i) {
                if (now.keys[i] != was->keys[i] || now.values[i] != was->values[i]) {
                    pieces(*was, i, i);
                    pieces(now, i, i);
                }
            }
        }
    }
    for (auto it = before.graphs.constBegin(); it != before.graphs.constEnd(); ++it)
        if (!after.graphs.contains(it.key()) && it.value().visible)
            add(it.value().axisRect.adjusted(-20, -20, 20, 20));

    for (auto it = after.texts.constBegin(); it != after.texts.constEnd(); ++it) {
        const TextShot& now = it.value();
        const auto found = before.texts.constFind(it.key());
        if (found == before.texts.constEnd()) {
            if (now.visible)
                add(now.bounds);
            continue;
        }
        const TextShot& was = found.value();
        if (now.visible == was.visible && now.bounds == was.bounds && now.text == was.text && now.color == was.color)
            continue;
        if (now.visible)
            add(now.bounds);
        if (was.visible)
            add(was.bounds);
    }
    for (auto it = before.texts.constBegin(); it != before.texts.constEnd(); ++it)
        if (!after.texts.contains(it.key()) && it.value().visible)
            add(it.value().bounds);

    damage &= rect();
    if (damage.rectCount() > MaxDamageRects)
        damage = damage.boundingRect();
    return damage;
}

ChartPlot::Narrowed ChartPlot::Narrow(const LayerShot& shot, const QRegion& damage)
{
    Narrowed narrowed;
    if (damage.isEmpty())
        return narrowed;
    for (auto it = shot.texts.constBegin(); it != shot.texts.constEnd(); ++it) {
        if (it->visible && !damage.intersects(it->bounds)) {
            auto* text = const_cast<QCPItemText*>(it.key());
            text->setVisible(false);
            narrowed.hidden.push_back(text);
        }
    }
    // The damaged pixel columns, as sorted disjoint spans.
    QVector<QPair<int, int>> spans;
    for (const QRect& r : damage)
        spans.push_back({r.left(), r.right()});
    std::sort(spans.begin(), spans.end());
    QVector<QPair<int, int>> merged;
    for (const auto& s : spans) {
        if (!merged.isEmpty() && s.first <= merged.back().second + 1)
            merged.back().second = std::max(merged.back().second, s.second);
        else
            merged.push_back(s);
    }

    for (auto it = shot.graphs.constBegin(); it != shot.graphs.constEnd(); ++it) {
        const GraphShot& g = it.value();
        const int n = int(g.keys.size());
        if (!g.visible || n == 0)
            continue;
        // Keep the points inside a span (a marker's radius counts) and, for
        // a line, NarrowReach more on either side, so every segment and fill
        // edge that crosses the span is drawn as in the whole curve and the
        // cut ends stay outside it.
        const bool lines = g.lineStyle != int(QCPGraph::lsNone);
        const int reach = lines ? NarrowReach : 0;
        const double pad = 2 + g.scatterSize / 2 + g.pen.widthF();
        QVector<char> keep(n, 0);
        int span = 0;
        for (int i = 0; i < n; ++i) {
            const double x = g.px[i];
            while (span < merged.size() && merged[span].second < x - pad)
                ++span;
            if (span < merged.size() && x >= merged[span].first - pad)
                std::fill(keep.begin() + std::max(i - reach, 0), keep.begin() + std::min(i + reach + 1, n), 1);
        }
        QVector<QCPGraphData> points;
        points.reserve(n);
        for (int i = 0; i < n; ++i) {
            if (keep[i])
                points.push_back(QCPGraphData(g.keys[i], g.values[i]));
            else if (lines && i > 0 && keep[i - 1]) // a gap in the line and the fill
                points.push_back(QCPGraphData(g.keys[i], std::numeric_limits<double>::quiet_NaN()));
        }
        if (points.size() == n)
            continue;
        auto* graph = const_cast<QCPGraph*>(it.key());
        narrowed.data.push_back({graph, graph->data()});
        auto narrow = QSharedPointer<QCPGraphDataContainer>::create();
        narrow->add(points, true);
        graph->setData(narrow);
    }
    return narrowed;
}

void ChartPlot::Restore(const Narrowed& narrowed)
{
    for (const auto& [graph, data] : narrowed.data)
        graph->setData(data);
    for (QCPItemText* text : narrowed.hidden)
        text->setVisible(true);
}

void RibbonGraph::drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const
{
    applyDefaultAntialiasingHint(painter);
    const QPen pen = painter->pen();
    if (painter->testRenderHint(QPainter::Antialiasing) || pen.style() != Qt::SolidLine || pen.widthF() <= 1 ||
        lineStyle() != lsLine || keyAxis()->orientation() != Qt::Horizontal ||
        painter->modes().testFlag(QCPPainter::pmVectorized)) {
        QCPGraph::drawLinePlot(painter, lines);
        return;
    }
    // Each point's band reaches over its neighbours' heights too, so steep
    // stretches stay joined, and half the pen's width beyond them.
    const double half = pen.widthF() / 2;
    painter->setPen(Qt::NoPen);
    painter->setBrush(pen.color());
    const int n = int(lines.size());
    QVector<QPointF> ribbon;
    int i = 0;
    while (i < n) {
        while (i < n && (qIsNaN(lines[i].x()) || qIsNaN(lines[i].y())))
            ++i;
        int end = i;
        while (end < n && !qIsNaN(lines[end].x()) && !qIsNaN(lines[end].y()))
            ++end;
        if (end - i >= 2) {
            ribbon.resize(2 * (end - i));
            for (int k = i; k < end; ++k) {
                const double y = lines[k].y();
                const double before = k > i ? lines[k - 1].y() : y;
                const double after = k + 1 < end ? lines[k + 1].y() : y;
                const double top = std::min({y, (y + before) / 2, (y + after) / 2}) - half;
                const double bottom = std::max({y, (y + before) / 2, (y + after) / 2}) + half;
                ribbon[k - i] = QPointF(lines[k].x(), top);
                ribbon[2 * (end - i) - 1 - (k - i)] = QPointF(lines[k].x(), bottom);
            }
            painter->drawPolygon(ribbon.constData(), int(ribbon.size()));
        }
        i = end;
    }
    painter->setPen(pen);
}

} // namespace ktv
