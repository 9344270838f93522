// The chart part of the editor: axes, series, the pixel grid, the hand-over
// of the curves and the point drag.

#include "base/UserInterface.h"
#include "dsp/StepTables.h"
#include "editor/ChartPlot.h"
#include "editor/Peqa.h"
#include "params/Commands.h"

#include <qcustomplot.h>

#include <QLabel>

#include <algorithm>
#include <cmath>

namespace ktv {

namespace {

constexpr double FreqLow = 190.0;     // 19 Hz in tenths
constexpr double FreqHigh = 210000.0; // 21 kHz in tenths
constexpr double GainLow = -400.0;
constexpr double GainHigh = 200.0;
constexpr int FreqInset = 10; // both ends of the frequency axis sit this far inside the plot

// Labelled lines at 2-5-10 per decade, unlabelled at the other whole
// multiples; values and labels in the chart's tenths.
class FrequencyTicker : public QCPAxisTicker {
protected:
    QVector<double> createTickVector(double, const QCPRange&) override
    {
        return {200, 500, 1000, 2000, 5000, 10000, 20000, 50000, 100000, 200000};
    }
    int getSubTickCount(double) override { return 0; }
    QVector<double> createSubTickVector(int, const QVector<double>&) override
    {
        QVector<double> sub;
        for (double decade : {100.0, 1000.0, 10000.0})
            for (int m : {3, 4, 6, 7, 8, 9})
                sub.push_back(m * decade);
        return sub;
    }
    QVector<QString> createLabelVector(const QVector<double>& ticks, const QLocale&, QChar, int) override
    {
        QVector<QString> labels;
        for (double t : ticks)
            labels.push_back(QString::number(qRound64(t / 10)));
        return labels;
    }
};

class GainTicker : public QCPAxisTicker {
protected:
    double getTickStep(const QCPRange&) override { return 50; }
    int getSubTickCount(double) override { return 0; }
    QVector<QString> createLabelVector(const QVector<double>& ticks, const QLocale&, QChar, int) override
    {
        QVector<QString> labels;
        for (double t : ticks)
            labels.push_back(QString::number(qRound(t / 10)));
        return labels;
    }
};

void StyleAxis(QCPAxis* axis, const QString& label)
{
    const QColor white(Qt::white);
    axis->setLabel(label);
    axis->setLabelColor(white);
    axis->setTickLabelColor(white);
    axis->setBasePen(QPen(white));
    axis->setTickPen(QPen(white));
    axis->setSubTickPen(QPen(white));
    axis->grid()->setPen(QPen(QColor(110, 110, 110), 0, Qt::SolidLine));
    axis->grid()->setSubGridPen(QPen(QColor(70, 70, 70), 0, Qt::DotLine));
    axis->grid()->setZeroLinePen(Qt::NoPen);
}

} // namespace

QCustomPlot* TFormPEQA::ChartFR() const { return chart_; }

void TFormPEQA::BuildChart()
{
    chart_ = new ChartPlot(this);
    chart_->setObjectName("ChartFR");
    chart_->setMinimumHeight(220);
    chart_->setBackground(QBrush(Qt::black));
    chart_->axisRect()->setBackground(QBrush(Qt::black));
    chart_->setInteractions(QCP::Interactions());
    chart_->setMouseTracking(true);
    chart_->setNoAntialiasingOnDrag(true);

    auto* title = new QCPTextElement(chart_, tr("Frequency Response"), QFont(font().family(), 10, QFont::Bold));
    title->setTextColor(Qt::white);
    chart_->plotLayout()->insertRow(0);
    chart_->plotLayout()->addElement(0, 0, title);

    QCPAxis* x = chart_->xAxis;
    x->setScaleType(QCPAxis::stLogarithmic);
    x->setTicker(QSharedPointer<QCPAxisTicker>(new FrequencyTicker));
    x->setSubTicks(true);
    x->grid()->setSubGridVisible(true);
    x->setRange(FreqLow, FreqHigh);
    StyleAxis(x, tr("Frequency/Hz"));

    QCPAxis* y = chart_->yAxis;
    y->setTicker(QSharedPointer<QCPAxisTicker>(new GainTicker));
    y->setSubTicks(false);
    y->setRange(GainLow, GainHigh);
    StyleAxis(y, tr("Gain/db"));

    // The curves live in their own buffered layer on top, so a drag redraws
    // only them, and only where they moved; everything below shares one
    // buffer (the overlay layer holds nothing here) that stays as it is.
    chart_->layer("overlay")->setMode(QCPLayer::lmLogical);
    curveLayer_ = chart_->AddTrackedLayer("curves", chart_->layer("overlay"));

    for (int i = 0; i < ChartSeriesCount; ++i) {
        // The sum is the one curve drawn wide while a point is dragged.
        QCPGraph* g = i == SeriesSum ? new RibbonGraph(x, y) : chart_->addGraph(x, y);
        series_[std::size_t(i)] = g;
        if (i < SeriesSum) {
            g->setName(QStringLiteral("PEQ%1").arg(i + 1));
            g->setVisible(false);
        }
    }
    QCPGraph* sum = series_[SeriesSum];
    sum->setName("PEQAL");
    sum->setLayer(curveLayer_);
    sum->setPen(QPen(QColor(0, 190, 255), 2));
    sum->setBrush(QBrush(QColor(0, 150, 255, 110)));
    sum->setAdaptiveSampling(false);

    QCPGraph* points = series_[SeriesPoints];
    points->setName("PEQAP");
    points->setLayer(curveLayer_);
    points->setLineStyle(QCPGraph::lsNone);
    points->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QColor(Qt::red), QColor(Qt::red), 9));

    for (int i = 0; i < ShownRows; ++i) {
        auto* label = new QCPItemText(chart_);
        label->setLayer(curveLayer_);
        label->position->setType(QCPItemPosition::ptPlotCoords);
        label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        label->setPadding(QMargins(0, 0, 0, 6));
        label->setColor(Qt::white);
        label->setFont(QFont(font().family(), 9, QFont::Bold));
        label->setVisible(false);
        pointLabels_[std::size_t(i)] = label;
    }

    BuildMeasurementSeries();

    labelBypass_ = new QLabel(tr("EQ Bypass"), chart_);
    labelBypass_->setObjectName("LabelBypass");
    QFont bold = labelBypass_->font();
    bold.setBold(true);
    labelBypass_->setFont(bold);
    labelBypass_->setAutoFillBackground(true);
    labelBypass_->setStyleSheet("QLabel { background: #00c000; color: black; padding: 1px 4px; }");
    labelBypass_->hide();

    connect(chart_, &QCustomPlot::afterLayout, this, &TFormPEQA::AdjustFrequencyRange);
    connect(chart_, &QCustomPlot::afterReplot, this, &TFormPEQA::ChartFRAfterDraw);
    connect(chart_, &QCustomPlot::mousePress, this, &TFormPEQA::ChartFRMouseDown);
    connect(chart_, &QCustomPlot::mouseMove, this, &TFormPEQA::ChartFRMouseMove);
    connect(chart_, &QCustomPlot::mouseRelease, this, &TFormPEQA::ChartFRMouseUp);
    chart_->installEventFilter(this);
}

void TFormPEQA::AdjustFrequencyRange()
{
    // Widen the range so that 19 Hz and 21 kHz sit FreqInset pixels inside.
    const QRect rect = chart_->axisRect()->rect();
    const int width = rect.width();
    if (width > 4 * FreqInset) {
        const double lo = std::log(FreqLow);
        const double hi = std::log(FreqHigh);
        const double span = (hi - lo) * width / (width - 2 * FreqInset);
        const double lower = lo - span * FreqInset / width;
        chart_->xAxis->setRange(std::exp(lower), std::exp(lower + span));
        // The first layout of a shown chart has what the grid needs: the
        // curves are then drawn by the replot under way, not one more.
        if (!chartInitialised_ && chart_->isVisible())
            InitChartData();
    }
    labelBypass_->move(rect.left() + 6, rect.top() + 6);
}

void TFormPEQA::ChartFRAfterDraw()
{
    if (chartInitialised_ || !chart_->isVisible())
        return;
    InitChartData();
    if (chartInitialised_)
        chart_->replot(QCustomPlot::rpQueuedReplot);
}

void TFormPEQA::BuildGrid()
{
    // One column per pixel from 19 Hz to 21 kHz. A plot wider than the
    // column store spreads its columns evenly over the same span instead of
    // leaving the top of the range without a curve.
    QCPAxis* x = chart_->xAxis;
    const int x0 = qRound(x->coordToPixel(FreqLow));
    const int x1 = qRound(x->coordToPixel(FreqHigh));
    const int distance = std::max(x1 - x0, 0);
    const int count = std::min(distance, MaxGridColumns);
    std::vector<std::int32_t> freq10(std::size_t(count), 0);
    for (int i = 0; i < count; ++i) {
        const double pixel = x0 + double(i) * distance / count;
        // The tiny lift keeps a column that maps exactly onto a whole value
        // from being truncated to the one below.
        freq10[std::size_t(i)] = std::int32_t(x->pixelToCoord(pixel) * (1.0 + 1e-9));
    }
    gridX0_ = x0;
    if (count > 0) {
        gridLog0_ = std::log(x->pixelToCoord(x0));
        gridLogStep_ = (std::log(x->pixelToCoord(x1)) - gridLog0_) / count;
    }
    grid_.Build(freq10);
}

int TFormPEQA::ColumnAt(int pixelX) const
{
    // The columns step geometrically, so the column under the mouse is plain
    // arithmetic on the axis value; it stays right after the chart is resized.
    const int n = grid_.Count();
    if (n == 0)
        return 0;
    const double value = chart_->xAxis->pixelToCoord(pixelX);
    if (!(value > 0))
        return 0;
    const double c = std::floor((std::log(value) - gridLog0_) / gridLogStep_ + 1e-6);
    return int(std::clamp(c, 0.0, double(n - 1)));
}

void TFormPEQA::InitChartData()
{
    // The grid needs a laid-out chart; until the chart is on screen the
    // curves wait and only the rows are refreshed.
    if (grid_.Count() == 0) {
        if (!chart_->isVisible())
            return;
        if (chart_->axisRect()->width() <= 4 * FreqInset) {
            chartInitialised_ = true; // keeps AfterDraw from recursing
            chart_->replot(QCustomPlot::rpImmediateRefresh);
            chartInitialised_ = false;
        }
        BuildGrid();
        if (grid_.Count() < 2)
            return;
    }
    const int n = grid_.Count();
    for (auto& curve : bandCurves_)
        curve.assign(std::size_t(n + 1), 0.0);
    sumCurve_.assign(std::size_t(n + 1), 0.0);

    QVector<double> keys(n), zeros(n, 0.0);
    for (int i = 0; i < n; ++i)
        keys[i] = grid_.Freq10()[std::size_t(i)];
    for (QCPGraph* g : series_)
        g->data()->clear();
    for (int r = 0; r < ShownRows; ++r)
        series_[std::size_t(r)]->setData(keys, zeros, true);
    series_[SeriesSum]->setData(keys, zeros, true);
    chartInitialised_ = true;
    SetBandPoints(true);
    chart_->ReplotLayer(curveLayer_);
}

void TFormPEQA::SetBandPoints(bool relabel)
{
    QVector<QCPGraphData> points;
    points.reserve(BandCount);
    for (int i = 0; i < ShownRows; ++i) {
        QCPItemText* label = pointLabels_[std::size_t(i)];
        if (i < BandCount && FirstBand + i < BandTotal) {
            const PeqBand& band = DspParams.Band[std::size_t(FirstBand + i)];
            pointX_[std::size_t(i)] = double(band.Fc) * 10.0;
            pointY_[std::size_t(i)] = double(band.Gain) * 10.0;
            points.push_back(QCPGraphData(pointX_[std::size_t(i)], pointY_[std::size_t(i)]));
            label->position->setCoords(pointX_[std::size_t(i)], pointY_[std::size_t(i)]);
            if (relabel)
                label->setText(QString::number(i + 1));
            label->setVisible(true);
        } else {
            label->setVisible(false);
        }
    }
    series_[SeriesPoints]->data()->set(points, false);
}

void TFormPEQA::HandOverCurves()
{
    UpdateMeasurementSeries();
    if (chartInitialised_) {
        auto data = series_[SeriesSum]->data();
        std::size_t i = 0;
        for (auto it = data->begin(); it != data->end(); ++it)
            it->value = sumCurve_[i++];
    }
    SetBandPoints(false);
    chart_->ReplotLayer(curveLayer_);
}

QPoint TFormPEQA::PointPixel(int r) const
{
    const PeqBand& band = DspParams.Band[std::size_t(FirstBand + r - 1)];
    return {qRound(chart_->xAxis->coordToPixel(double(band.Fc) * 10.0)),
            qRound(chart_->yAxis->coordToPixel(double(band.Gain) * 10.0))};
}

int TFormPEQA::HitRow(const QPoint& pos) const
{
    for (int r = 1; r <= BandCount; ++r) {
        const QPoint p = PointPixel(r);
        if (std::abs(pos.x() - p.x()) <= 2 && std::abs(pos.y() - p.y()) <= 2)
            return r;
    }
    return 0;
}

void TFormPEQA::ChartFRMouseDown(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    const int row = HitRow(pos);
    if (row == 0)
        return;
    dragging_ = true;
    dragRow_ = row;
    // A smooth 2-pixel curve costs more than a mouse move may take; it is
    // drawn smooth again when the point is let go.
    SetSmoothCurve(false);
    lastX_ = pos.x();
    lastY_ = pos.y();
    if (event->button() == Qt::LeftButton)
        chart_->setCursor(Qt::SizeAllCursor);
    else if (event->button() == Qt::RightButton)
        chart_->setCursor(Qt::SizeHorCursor);
}

void TFormPEQA::ChartFRMouseMove(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (!dragging_) {
        chart_->setCursor(HitRow(pos) != 0 ? Qt::SizeAllCursor : Qt::ArrowCursor);
        lastX_ = pos.x();
        lastY_ = pos.y();
        return;
    }
    PeqBand& band = DspParams.Band[std::size_t(FirstBand + dragRow_ - 1)];
    const Qt::MouseButtons buttons = event->buttons();
    if (buttons & Qt::LeftButton) {
        chart_->setCursor(Qt::SizeAllCursor);
        const int n = grid_.Count();
        if (n > 0) {
            const int column = ColumnAt(pos.x());
            const int p = grid_.FcPos()[std::size_t(column)];
            FcStepPos[std::size_t(dragRow_)] = p;
            band.Fc = FcSteps[std::size_t(p)];
        }
        const double g = std::trunc(chart_->yAxis->pixelToCoord(pos.y()));
        if (g < -240)
            band.Gain = BandGainMin;
        else if (g > 120)
            band.Gain = BandGainMax;
        else
            band.Gain = float(g / 10.0);
    } else if (buttons & Qt::RightButton) {
        chart_->setCursor(Qt::SizeHorCursor);
        if (pos.x() != lastX_) {
            int p = QStepPos[std::size_t(dragRow_)];
            if (p < 0 || p >= StepTableCapacity || QSteps[std::size_t(p)] != band.Q)
                p = QStepIndex(band.Q);
            p = pos.x() > lastX_ ? std::min(p + 1, QStepCount - 1) : std::max(p - 1, 0);
            QStepPos[std::size_t(dragRow_)] = p;
            band.Q = QSteps[std::size_t(p)];
        }
    }
    RefreshBands();
    lastX_ = pos.x();
    lastY_ = pos.y();
}

void TFormPEQA::ChartFRMouseUp(QMouseEvent*)
{
    chart_->setCursor(Qt::ArrowCursor);
    if (dragging_) {
        SendPeqBands(std::uint8_t(FirstBand + dragRow_ - 1), 1);
        SetSmoothCurve(true);
        chart_->ReplotLayer(curveLayer_);
    }
    dragging_ = false;
}

void TFormPEQA::SetSmoothCurve(bool smooth)
{
    series_[SeriesSum]->setAntialiased(smooth);
    series_[SeriesSum]->setAntialiasedFill(smooth);
    // Separate segments instead of one joined polyline: about half the
    // stroking time for the 2-pixel line, at the cost of rougher joins.
    chart_->setPlottingHint(QCP::phFastPolylines, !smooth);
    // A thin line draws in a fraction of the time of a wide one.
    QPen prediction = series_[SeriesPrediction]->pen();
    prediction.setWidth(smooth ? 2 : 1);
    series_[SeriesPrediction]->setPen(prediction);
    series_[SeriesPrediction]->setAntialiased(smooth);
}

} // namespace ktv
