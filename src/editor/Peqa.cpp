#include "editor/Peqa.h"

#include "base/UserInterface.h"
#include "dsp/Filter.h"
#include "editor/SettingsPages.h"
#include "params/BoxLink.h"
#include "params/Commands.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLocale>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ktv {

namespace {

bool IsNumberKey(char16_t key) { return (key >= u'0' && key <= u'9') || key == u'.' || key == 13 || key == 8; }

int Direction(ArrowAction action) { return action == ArrowAction::LineUp ? 1 : -1; }

} // namespace

TFormPEQA::TFormPEQA(QWidget* parent) : QWidget(parent)
{
    setObjectName("FormPEQA");

    splitter_ = new QSplitter(Qt::Vertical, this);
    splitter_->setObjectName("Splitter1");
    splitter_->setChildrenCollapsible(false);
    chart_ = new ResponseChart(this);
    chart_->installEventFilter(this);
    splitter_->addWidget(chart_);

    auto* lower = new QWidget(splitter_);
    auto* lowerLayout = new QHBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->setSpacing(6);
    rows_ = new BandRows(lower);
    lowerLayout->addWidget(rows_, 0);
    pages_ = new SettingsPages(lower);
    lowerLayout->addWidget(pages_, 1);
    splitter_->addWidget(lower);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(splitter_);

    FillRowsAtCreation();
    rows_->KeyFilter = [this](int r, BandField field, char16_t key) { return FilterKey(r, field, key); };
    connect(rows_, &BandRows::typeChosen, this, &TFormPEQA::ApplyType);
    connect(rows_, &BandRows::bypassToggled, this, &TFormPEQA::ApplyBypass);
    connect(rows_, &BandRows::arrowStepped, this, [this](int r, BandField field, ArrowAction action) {
        if (field == BandField::Fc)
            StepFc(r, action);
        else if (field == BandField::Gain)
            StepGain(r, action);
        else
            StepQ(r, action);
    });
    connect(rows_, &BandRows::valueEntered, this, &TFormPEQA::ApplyValue);
    connect(rows_, &BandRows::resetClicked, this, &TFormPEQA::BitBtnResetClick);
    connect(rows_, &BandRows::channelBypassToggled, this, &TFormPEQA::FEnALLClick);
    connect(chart_, &ResponseChart::pointDragged, this, &TFormPEQA::ApplyDrag);
    connect(chart_, &ResponseChart::dragFinished, this, &TFormPEQA::ApplyDragEnd);

    // FormCreate
    ConfigureBands(0, 7);
    pages_->tabBar()->hide();
    pages_->SetChannel(EqChannel::MIC);
}

TFormPEQA::~TFormPEQA() = default;

QCustomPlot* TFormPEQA::ChartFR() const { return chart_; }

void TFormPEQA::FillRowsAtCreation()
{
    for (int r = 1; r <= ShownRows; ++r) {
        PeqBand& band = DspParams.Band[std::size_t(r - 1)];
        FcStepPos[std::size_t(r)] = FcStepIndex(band.Fc);
        QStepPos[std::size_t(r)] = QStepIndex(band.Q);
        DesignBand(band);
        rows_->FillAtCreation(r, band);
    }
}

// ---- channel state ----

void TFormPEQA::ShowChannel(EqChannel channel)
{
    const BandGroup group = GroupOf(channel);
    ConfigureBands(std::uint8_t(group.FirstBand), std::uint8_t(group.BandCount));
    if (channel >= EqChannel::MAIN)
        pages_->ShowRightLine(channel == EqChannel::MAIN || channel == EqChannel::SRS);
    pages_->SetChannel(channel);
    Channel = std::uint8_t(channel);
}

void TFormPEQA::ConfigureBands(std::uint8_t first, std::uint8_t count)
{
    BandCount = count;
    FirstBand = first;
    chart_->SetBands(std::span<const PeqBand>(&DspParams.Band[first], std::min<std::size_t>(count, BandTotal - first)));
    rows_->ShowCount(count);
}

void TFormPEQA::LoadSettings() { pages_->LoadSettings(); }

// ---- refresh ----

void TFormPEQA::RefreshBands()
{
    if (BandCount > ShownRows)
        ConfigureBands(FirstBand, 0);

    const int count = BandCount;
    for (int r = 1; r <= count; ++r)
        DesignBand(RowBand(r));
    chart_->ShowCurves(ShownResponse());

    for (int r = 1; r <= count; ++r) {
        const PeqBand& band = RowBand(r);
        rows_->ShowBand(r, band);
        // A box that changes state runs its own reaction, request included,
        // before this refresh goes on.
        rows_->ShowBypassed(r, (band.Flags & FlagBandOn) == 0);
    }

    rows_->ShowChannelBypassed((DspParams.Band[std::size_t(FirstBand)].Flags & FlagChannelEqOn) == 0);
    chart_->ShowBypass(rows_->ChannelBypassed());
    ShowUnsentBands();
}

void TFormPEQA::ShowUnsentBands()
{
    for (int r = 1; r <= BandCount && r <= ShownRows; ++r)
        rows_->ShowUnsent(r, Link().BandUnsent(FirstBand + r - 1));
}

void TFormPEQA::SendRow(int r) { SendPeqBands(std::uint8_t(FirstBand + r - 1), 1); }

bool TFormPEQA::ReadNumber(BandField field, int r, float& value)
{
    const QString text = rows_->Edit(r, field)->text();
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double x = c.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(x) || std::fabs(x) > double(std::numeric_limits<float>::max())) {
        Ui().ShowMessage(tr("'%1' is not a valid number.").arg(text).toStdString());
        return false;
    }
    value = float(x);
    return true;
}

// ---- row reactions ----

void TFormPEQA::ApplyType(int r)
{
    const int code = rows_->TypeCode(r);
    if (code < 0) {
        // A name left half typed is no type: the row shows the band's again.
        rows_->ShowBand(r, RowBand(r));
        return;
    }
    PeqBand& band = RowBand(r);
    band.Flags = std::uint8_t((band.Flags & ~FlagTypeMask) | code);
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::ApplyBypass(int r)
{
    PeqBand& band = RowBand(r);
    if (rows_->Bypassed(r))
        band.Flags &= std::uint8_t(~FlagBandOn);
    else
        band.Flags |= FlagBandOn;
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::ApplyStep(StepTable table, int r, int position)
{
    StepPos(table, r) = position;
    PeqBand& band = RowBand(r);
    (table == StepTable::Fc ? band.Fc : band.Q) = StepValue(table, position);
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::StepFc(int r, ArrowAction action)
{
    if (action != ArrowAction::Other)
        ApplyStep(StepTable::Fc, r,
                  StepAlong(StepTable::Fc, StepPos(StepTable::Fc, r), RowBand(r).Fc, Direction(action)));
}

void TFormPEQA::StepQ(int r, ArrowAction action)
{
    if (action != ArrowAction::Other)
        ApplyStep(StepTable::Q, r, StepAlong(StepTable::Q, StepPos(StepTable::Q, r), RowBand(r).Q, Direction(action)));
}

void TFormPEQA::StepGain(int r, ArrowAction action)
{
    if (action == ArrowAction::Other)
        return;
    PeqBand& band = RowBand(r);
    // Each end holds only the way it limits: a gain beyond the other end
    // (read from a box) steps back into range one tenth at a time.
    if (action == ArrowAction::LineUp)
        band.Gain = std::min(float(double(band.Gain) + 0.1), BandGainMax);
    else
        band.Gain = std::max(float(double(band.Gain) - 0.1), BandGainMin);
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::ApplyFc(int r)
{
    float x = 0;
    if (ReadNumber(BandField::Fc, r, x))
        ApplyStep(StepTable::Fc, r, StepNearest(StepTable::Fc, x));
}

void TFormPEQA::ApplyQ(int r)
{
    float x = 0;
    if (ReadNumber(BandField::Q, r, x))
        ApplyStep(StepTable::Q, r, StepNearest(StepTable::Q, x));
}

void TFormPEQA::ApplyGain(int r)
{
    float x = 0;
    if (!ReadNumber(BandField::Gain, r, x))
        return;
    RowBand(r).Gain = std::clamp(x, BandGainMin, BandGainMax);
    RefreshBands();
    SendRow(r);
}

void TFormPEQA::ApplyValue(int r, BandField field)
{
    // A field the user did not type into holds the band's value as shown
    // (rounded to a tenth, and not always a step): taking it back would
    // move the band and send it without any change by the user.
    if (!rows_->Edit(r, field)->isModified())
        return;
    if (field == BandField::Fc)
        ApplyFc(r);
    else if (field == BandField::Gain)
        ApplyGain(r);
    else
        ApplyQ(r);
}

bool TFormPEQA::FilterKey(int r, BandField field, char16_t key)
{
    NumberEdit* edit = rows_->Edit(r, field);
    if (field == BandField::Gain && key == u'-') {
        // A minus starts a new negative gain.
        edit->clear();
        return true;
    }
    // The refresh after applying shows the band's value unmodified, so
    // leaving the edit afterwards applies nothing more.
    if (key == 13 && !edit->text().isEmpty())
        ApplyValue(r, field);
    if (key == u'.' && edit->text().contains(u'.'))
        return false;
    return IsNumberKey(key);
}

void TFormPEQA::BitBtnResetClick()
{
    const auto reset = [this] {
        const int count = BandCount;
        for (int i = 0; i < count; ++i)
            SetDefaultBand(DspParams.Band[std::size_t(FirstBand + i)], i);
        RefreshBands();
        for (int i = 0; i < count; ++i)
            SendPeqBands(std::uint8_t(FirstBand + i), 1);
    };
    if (StepRecorder && Channel < EqChannelCount)
        StepRecorder(tr("Reset %1 EQ").arg(QLatin1String(EqChannelName(EqChannel(Channel)))), reset);
    else
        reset();
}

void TFormPEQA::FEnALLClick()
{
    const bool ticked = rows_->ChannelBypassed();
    for (int i = 0; i < BandCount; ++i) {
        PeqBand& band = DspParams.Band[std::size_t(FirstBand + i)];
        if (ticked)
            band.Flags &= std::uint8_t(~FlagChannelEqOn);
        else
            band.Flags |= FlagChannelEqOn;
    }
    chart_->ShowBypass(ticked);
    RefreshBands();
    SendEqBypass(FirstBand, BandCount);
}

// ---- the point drag ----

void TFormPEQA::ApplyDrag(const PointDrag& drag)
{
    PeqBand& band = RowBand(drag.Row);
    if (drag.Moves) {
        if (drag.FcStep >= 0) {
            FcStepPos[std::size_t(drag.Row)] = drag.FcStep;
            band.Fc = StepValue(StepTable::Fc, drag.FcStep);
        }
        band.Gain = std::clamp(float(drag.GainTenths / 10.0), BandGainMin, BandGainMax);
    } else if (drag.QSteps != 0) {
        int& p = QStepPos[std::size_t(drag.Row)];
        p = StepAlong(StepTable::Q, p, band.Q, drag.QSteps);
        band.Q = StepValue(StepTable::Q, p);
    }
    RefreshBands();
}

void TFormPEQA::ApplyDragEnd(int row) { SendRow(row); }

bool TFormPEQA::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == chart_ && event->type() == QEvent::Paint && !firstPaintSeen_) {
        // Splitter1Paint: the first paint of the laid-out chart gets one more
        // replot, so the data added after the first drawing are shown.
        firstPaintSeen_ = true;
        QMetaObject::invokeMethod(rows_, &BandRows::BuildHiddenRows, Qt::QueuedConnection);
        chart_->replot(QCustomPlot::rpQueuedReplot);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ktv
