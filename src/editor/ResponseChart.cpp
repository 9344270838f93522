#include "editor/ResponseChart.h"

#include <QLabel>
#include <QPageSize>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ktv {

namespace {

constexpr double NoData = std::numeric_limits<double>::quiet_NaN();

constexpr double FreqLow = 190.0;     // 19 Hz in tenths
constexpr double FreqHigh = 210000.0; // 21 kHz in tenths
constexpr double GainLow = -400.0;
constexpr double GainHigh = 200.0;
constexpr int FreqInset = 10; // both ends of the frequency axis sit this far inside the plot
constexpr int HitRadius = 2;  // pixels around a band point that pick it up

// The chart's title. QCustomPlot asks a text element for its size at every
// layout pass, and each answer lays the text out anew (about 70 times before
// the window first appears); the size only changes with the text, font or
// margins.
class ChartTitle final : public QCPTextElement {
public:
    using QCPTextElement::QCPTextElement;

    QSize minimumOuterSizeHint() const override
    {
        const QFont& shown = mSelected ? mSelectedFont : mFont;
        if (!hint_.isValid() || text_ != mText || font_ != shown || margins_ != mMargins) {
            text_ = mText;
            font_ = shown;
            margins_ = mMargins;
            hint_ = QCPTextElement::minimumOuterSizeHint();
        }
        return hint_;
    }

private:
    mutable QString text_;
    mutable QFont font_;
    mutable QMargins margins_;
    mutable QSize hint_;
};

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

double MeasuredResponse::At(double x) const
{
    if (LogHz.empty() || x < LogHz.front() || x > LogHz.back())
        return NoData;
    const auto it = std::lower_bound(LogHz.begin(), LogHz.end(), x);
    const std::size_t i = std::size_t(it - LogHz.begin());
    if (i == 0)
        return Db.front();
    const double t = (x - LogHz[i - 1]) / (LogHz[i] - LogHz[i - 1]);
    return Db[i - 1] + t * (Db[i] - Db[i - 1]);
}

ResponseChart::ResponseChart(QWidget* parent) : ChartPlot(parent)
{
    setObjectName("ChartFR");
    setMinimumHeight(220);
    setBackground(QBrush(Qt::black));
    axisRect()->setBackground(QBrush(Qt::black));
    setInteractions(QCP::Interactions());
    setMouseTracking(true);
    setNoAntialiasingOnDrag(true);
    BuildAxes();
    BuildSeries();
    BuildMeasurementSeries();

    labelBypass_ = new QLabel(tr("EQ Bypass"), this);
    labelBypass_->setObjectName("LabelBypass");
    QFont bold = labelBypass_->font();
    bold.setBold(true);
    labelBypass_->setFont(bold);
    labelBypass_->setAutoFillBackground(true);
    labelBypass_->setStyleSheet("QLabel { background: #00c000; color: black; padding: 1px 4px; }");
    labelBypass_->hide();

    connect(this, &QCustomPlot::afterLayout, this, &ResponseChart::AdjustFrequencyRange);
    connect(this, &QCustomPlot::afterReplot, this, &ResponseChart::AfterDraw);
    connect(this, &QCustomPlot::mousePress, this, &ResponseChart::Press);
    connect(this, &QCustomPlot::mouseMove, this, &ResponseChart::Move);
    connect(this, &QCustomPlot::mouseRelease, this, &ResponseChart::Release);
}

void ResponseChart::BuildAxes()
{
    auto* title = new ChartTitle(this, tr("Frequency Response"), QFont(font().family(), 10, QFont::Bold));
    title->setTextColor(Qt::white);
    plotLayout()->insertRow(0);
    plotLayout()->addElement(0, 0, title);

    QCPAxis* x = xAxis;
    x->setScaleType(QCPAxis::stLogarithmic);
    x->setTicker(QSharedPointer<QCPAxisTicker>(new FrequencyTicker));
    x->setSubTicks(true);
    x->grid()->setSubGridVisible(true);
    x->setRange(FreqLow, FreqHigh);
    StyleAxis(x, tr("Frequency/Hz"));

    QCPAxis* y = yAxis;
    y->setTicker(QSharedPointer<QCPAxisTicker>(new GainTicker));
    y->setSubTicks(false);
    y->setRange(GainLow, GainHigh);
    StyleAxis(y, tr("Gain/db"));
}

void ResponseChart::BuildSeries()
{
    // The curves live in their own buffered layer on top, so a drag redraws
    // only them, and only where they moved; everything below shares one
    // buffer (the overlay layer holds nothing here) that stays as it is.
    layer("overlay")->setMode(QCPLayer::lmLogical);
    curveLayer_ = AddTrackedLayer("curves", layer("overlay"));

    for (int i = 0; i < ChartSeriesCount; ++i) {
        // The sum is the one curve drawn wide while a point is dragged.
        QCPGraph* g = i == SeriesSum ? new RibbonGraph(xAxis, yAxis) : addGraph(xAxis, yAxis);
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

    for (int i = 0; i < MaxShownBands; ++i) {
        auto* label = new QCPItemText(this);
        label->setLayer(curveLayer_);
        label->position->setType(QCPItemPosition::ptPlotCoords);
        label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        label->setPadding(QMargins(0, 0, 0, 6));
        label->setColor(Qt::white);
        label->setFont(QFont(font().family(), 9, QFont::Bold));
        label->setVisible(false);
        pointLabels_[std::size_t(i)] = label;
    }
}

void ResponseChart::BuildMeasurementSeries()
{
    QCPGraph* measured = series_[SeriesMeasurement];
    measured->setName(tr("Measurement"));
    measured->setPen(QPen(QColor(255, 170, 0), 1.5));
    measured->setVisible(false);
    measured->setAdaptiveSampling(false);
    // The prediction moves with every drag step, so it is drawn with the sum.
    QCPGraph* predicted = series_[SeriesPrediction];
    predicted->setName(tr("Prediction"));
    predicted->setLayer(curveLayer_);
    predicted->setPen(QPen(QColor(90, 230, 90), 2));
    predicted->setVisible(false);
    predicted->setAdaptiveSampling(false);

    // The analyser's trace is drawn apart from the measurement, in its own colour.
    QCPGraph* analyser = series_[SeriesAnalyser];
    analyser->setName(tr("Live analyser"));
    analyser->setPen(QPen(QColor(255, 90, 200), 1.5));
    analyser->setVisible(false);
    analyser->setAdaptiveSampling(false);

    legend->clearItems();
    legend->setBrush(QBrush(QColor(30, 30, 30, 220)));
    legend->setBorderPen(QPen(QColor(110, 110, 110)));
    legend->setTextColor(Qt::white);
    legend->setVisible(false);
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignBottom | Qt::AlignRight);
}

void ResponseChart::AdjustFrequencyRange()
{
    // Widen the range so that 19 Hz and 21 kHz sit FreqInset pixels inside.
    const QRect rect = axisRect()->rect();
    const int width = rect.width();
    if (width > 4 * FreqInset) {
        const double lo = std::log(FreqLow);
        const double hi = std::log(FreqHigh);
        const double span = (hi - lo) * width / (width - 2 * FreqInset);
        const double lower = lo - span * FreqInset / width;
        xAxis->setRange(std::exp(lower), std::exp(lower + span));
        // The first layout of a shown chart has what the grid needs: the
        // curves are then drawn by the replot under way, not one more.
        if (!initialised_ && isVisible())
            InitData();
    }
    labelBypass_->move(rect.left() + 6, rect.top() + 6);
}

void ResponseChart::AfterDraw()
{
    if (initialised_ || !isVisible())
        return;
    InitData();
    if (initialised_)
        replot(QCustomPlot::rpQueuedReplot);
}

void ResponseChart::BuildGrid()
{
    // One column per pixel from 19 Hz to 21 kHz. A plot wider than the
    // column store spreads its columns evenly over the same span instead of
    // leaving the top of the range without a curve.
    QCPAxis* x = xAxis;
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

int ResponseChart::ColumnAt(int pixelX) const
{
    // The columns step geometrically, so the column under the mouse is plain
    // arithmetic on the axis value; it stays right after the chart is resized.
    const int n = grid_.Count();
    if (n == 0)
        return 0;
    const double value = xAxis->pixelToCoord(pixelX);
    if (!(value > 0))
        return 0;
    const double c = std::floor((std::log(value) - gridLog0_) / gridLogStep_ + 1e-6);
    return int(std::clamp(c, 0.0, double(n - 1)));
}

void ResponseChart::InitData()
{
    // The grid needs a laid-out chart; until the chart is on screen the
    // curves wait.
    if (grid_.Count() == 0) {
        if (!isVisible())
            return;
        if (axisRect()->width() <= 4 * FreqInset) {
            initialised_ = true; // keeps AfterDraw from recursing
            replot(QCustomPlot::rpImmediateRefresh);
            initialised_ = false;
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
    for (int r = 0; r < MaxShownBands; ++r)
        series_[std::size_t(r)]->setData(keys, zeros, true);
    series_[SeriesSum]->setData(keys, zeros, true);
    initialised_ = true;
    SetBandPoints(true);
    ReplotLayer(curveLayer_);
}

void ResponseChart::SetBands(std::span<const PeqBand> bands)
{
    bands_ = bands;
    SetBandPoints(true);
    if (graphCount() > 0)
        ReplotLayer(curveLayer_);
}

void ResponseChart::SetBandPoints(bool relabel)
{
    QVector<QCPGraphData> points;
    points.reserve(int(bands_.size()));
    for (int i = 0; i < MaxShownBands; ++i) {
        QCPItemText* label = pointLabels_[std::size_t(i)];
        if (i < int(bands_.size())) {
            const PeqBand& band = bands_[std::size_t(i)];
            const double x = double(band.Fc) * 10.0;
            const double y = double(band.Gain) * 10.0;
            points.push_back(QCPGraphData(x, y));
            label->position->setCoords(x, y);
            if (relabel)
                label->setText(QString::number(i + 1));
            label->setVisible(true);
        } else {
            label->setVisible(false);
        }
    }
    series_[SeriesPoints]->data()->set(points, false);
}

void ResponseChart::ShowCurves(const std::shared_ptr<const MeasuredResponse>& measurement)
{
    if (!initialised_)
        InitData();
    const int count = int(bands_.size());
    if (initialised_) {
        ComputeCurves(grid_, bands_, std::span<std::vector<double>>(bandCurves_.data(), std::size_t(count)),
                      sumCurve_);
        // PEQ1..PEQ7 are never drawn; they only carry the band curves.
        for (int r = 0; r < count; ++r) {
            auto data = series_[std::size_t(r)]->data();
            const auto& curve = bandCurves_[std::size_t(r)];
            std::size_t i = 0;
            for (auto it = data->begin(); it != data->end(); ++it)
                it->value = curve[i++];
        }
    }
    ShowMeasurement(measurement);
}

void ResponseChart::ShowMeasurement(const std::shared_ptr<const MeasuredResponse>& measurement)
{
    UpdateMeasurementSeries(measurement);
    if (initialised_) {
        auto data = series_[SeriesSum]->data();
        std::size_t i = 0;
        for (auto it = data->begin(); it != data->end(); ++it)
            it->value = sumCurve_[i++];
    }
    SetBandPoints(false);
    ReplotLayer(curveLayer_);
}

void ResponseChart::ShowBypass(bool bypassed) { labelBypass_->setVisible(bypassed); }

void ResponseChart::UpdateMeasurementSeries(const std::shared_ptr<const MeasuredResponse>& shown)
{
    QCPGraph* measured = series_[SeriesMeasurement];
    QCPGraph* predicted = series_[SeriesPrediction];
    const int n = initialised_ ? grid_.Count() : 0;
    if (!shown || n == 0) {
        sampled_.reset();
        if (measured->visible()) {
            measured->setVisible(false);
            predicted->setVisible(false);
            UpdateLegend();
            measurementCurve_.clear();
            predictionCurve_.clear();
            replot(QCustomPlot::rpQueuedReplot);
        }
        return;
    }
    if (shown != sampled_ || n != sampledColumns_) {
        // Only a new measurement, channel or grid gets here, never a drag step.
        measurementCurve_.assign(std::size_t(n), NoData);
        QVector<double> keys(n), values(n);
        for (int i = 0; i < n; ++i) {
            const double f10 = grid_.Freq10()[std::size_t(i)];
            measurementCurve_[std::size_t(i)] = shown->At(std::log(f10 / 10.0)) * 10.0;
            keys[i] = f10;
            values[i] = measurementCurve_[std::size_t(i)];
        }
        measured->setData(keys, values, true);
        predicted->setData(keys, values, true);
        predictionCurve_.assign(std::size_t(n), NoData);
        measured->setVisible(true);
        predicted->setVisible(true);
        UpdateLegend();
        sampled_ = shown;
        sampledColumns_ = n;
        replot(QCustomPlot::rpQueuedReplot);
    }
    auto data = predicted->data();
    std::size_t i = 0;
    for (auto it = data->begin(); it != data->end(); ++it, ++i) {
        predictionCurve_[i] = measurementCurve_[i] + sumCurve_[i];
        it->value = predictionCurve_[i];
    }
}

void ResponseChart::ShowAnalyser(const std::shared_ptr<const MeasuredResponse>& trace)
{
    QCPGraph* analyser = series_[SeriesAnalyser];
    const int n = initialised_ ? grid_.Count() : 0;
    if (!trace || n == 0) {
        if (analyser->visible()) {
            analyser->setVisible(false);
            analyser->data()->clear();
            analyserCurve_.clear();
            UpdateLegend();
            replot(QCustomPlot::rpQueuedReplot);
        }
        return;
    }
    analyserCurve_.assign(std::size_t(n), NoData);
    QVector<double> keys(n), values(n);
    for (int i = 0; i < n; ++i) {
        const double f10 = grid_.Freq10()[std::size_t(i)];
        analyserCurve_[std::size_t(i)] = trace->At(std::log(f10 / 10.0)) * 10.0;
        keys[i] = f10;
        values[i] = analyserCurve_[std::size_t(i)];
    }
    analyser->setData(keys, values, true);
    if (!analyser->visible()) {
        analyser->setVisible(true);
        UpdateLegend();
    }
    replot(QCustomPlot::rpQueuedReplot);
}

void ResponseChart::UpdateLegend()
{
    // Only the curves shown are named.
    legend->clearItems();
    for (int s : {SeriesMeasurement, SeriesPrediction, SeriesAnalyser})
        if (series_[std::size_t(s)]->visible())
            series_[std::size_t(s)]->addToLegend(legend);
    legend->setVisible(legend->itemCount() > 0);
}

// ---- the point drag ----

QPoint ResponseChart::PointPixel(int r) const
{
    // Rows past the shown bands still name a band of the image.
    const PeqBand& band = bands_.data()[r - 1];
    return {qRound(xAxis->coordToPixel(double(band.Fc) * 10.0)), qRound(yAxis->coordToPixel(double(band.Gain) * 10.0))};
}

int ResponseChart::HitRow(const QPoint& pos) const
{
    for (int r = 1; r <= int(bands_.size()); ++r) {
        const QPoint p = PointPixel(r);
        if (std::abs(pos.x() - p.x()) <= HitRadius && std::abs(pos.y() - p.y()) <= HitRadius)
            return r;
    }
    return 0;
}

void ResponseChart::Press(QMouseEvent* event)
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
    if (event->button() == Qt::LeftButton)
        setCursor(Qt::SizeAllCursor);
    else if (event->button() == Qt::RightButton)
        setCursor(Qt::SizeHorCursor);
}

void ResponseChart::Move(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (!dragging_) {
        setCursor(HitRow(pos) != 0 ? Qt::SizeAllCursor : Qt::ArrowCursor);
        lastX_ = pos.x();
        return;
    }
    PointDrag drag;
    drag.Row = dragRow_;
    const Qt::MouseButtons buttons = event->buttons();
    if (buttons & Qt::LeftButton) {
        setCursor(Qt::SizeAllCursor);
        drag.Moves = true;
        if (grid_.Count() > 0)
            drag.FcStep = grid_.FcPos()[std::size_t(ColumnAt(pos.x()))];
        drag.GainTenths = std::round(yAxis->pixelToCoord(pos.y()));
    } else if (buttons & Qt::RightButton) {
        setCursor(Qt::SizeHorCursor);
        if (pos.x() != lastX_)
            drag.QSteps = pos.x() > lastX_ ? 1 : -1;
    }
    emit pointDragged(drag);
    lastX_ = pos.x();
}

void ResponseChart::Release(QMouseEvent*)
{
    setCursor(Qt::ArrowCursor);
    if (dragging_) {
        emit dragFinished(dragRow_);
        SetSmoothCurve(true);
        ReplotLayer(curveLayer_);
    }
    dragging_ = false;
}

void ResponseChart::SetSmoothCurve(bool smooth)
{
    series_[SeriesSum]->setAntialiased(smooth);
    series_[SeriesSum]->setAntialiasedFill(smooth);
    // Separate segments instead of one joined polyline: about half the
    // stroking time for the 2-pixel line, at the cost of rougher joins.
    setPlottingHint(QCP::phFastPolylines, !smooth);
    // A thin line draws in a fraction of the time of a wide one.
    QPen prediction = series_[SeriesPrediction]->pen();
    prediction.setWidth(smooth ? 2 : 1);
    series_[SeriesPrediction]->setPen(prediction);
    series_[SeriesPrediction]->setAntialiased(smooth);
}

// ---- the chart as a picture and as numbers ----

bool ResponseChart::SavePicture(const QString& path, bool pdf, double scale, const QString& channel)
{
    // A picture is seen away from the window: its title names the channel.
    auto* title = qobject_cast<QCPTextElement*>(plotLayout()->element(0, 0));
    const QString shown = title ? title->text() : QString();
    if (title && !channel.isEmpty())
        title->setText(tr("Frequency Response: %1").arg(channel));
    bool ok;
    if (pdf) {
        // An A4 page across, as it prints; the chart is laid out anew for it
        // (QCustomPlot takes the size in points for a PDF).
        const QSizeF a4 = QPageSize(QPageSize::A4).size(QPageSize::Point).transposed();
        ok = savePdf(path, qRound(a4.width()), qRound(a4.height()), QCP::epAllowCosmetic, QStringLiteral("KTV Tune"),
                     title ? title->text() : QString());
    } else {
        ok = savePng(path, 0, 0, scale);
    }
    if (title)
        title->setText(shown);
    return ok;
}

QString ResponseChart::Csv() const
{
    const int bands = int(bands_.size());
    const bool measured = !measurementCurve_.empty();
    QString csv = QStringLiteral("Frequency (Hz)");
    for (int r = 1; r <= bands; ++r)
        csv += QStringLiteral(",Band %1 (dB)").arg(r);
    csv += QStringLiteral(",Sum (dB)");
    if (measured)
        csv += QStringLiteral(",Measurement (dB),Prediction (dB)");
    csv += '\n';
    auto number = [](double tenths) {
        if (std::isnan(tenths))
            return QString();
        // Rounded first, so a value just below zero prints 0.00, not -0.00.
        const double db = std::round(tenths * 10.0) / 100.0;
        return QString::number(db == 0.0 ? 0.0 : db, 'f', 2);
    };
    const int n = initialised_ ? grid_.Count() : 0;
    for (int i = 0; i < n; ++i) {
        const auto c = std::size_t(i);
        csv += QString::number(grid_.Freq10()[c] / 10.0, 'f', 1);
        for (int r = 0; r < bands; ++r)
            csv += ',' + number(bandCurves_[std::size_t(r)][c]);
        csv += ',' + number(sumCurve_[c]);
        if (measured)
            csv += ',' + number(measurementCurve_[c]) + ',' + number(predictionCurve_[c]);
        csv += '\n';
    }
    return csv;
}

} // namespace ktv
