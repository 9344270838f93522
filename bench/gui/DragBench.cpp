// One mouse move of a left drag on a seven-band channel: band edit, full
// refresh (design, curves, rows) and the chart repaint, against the
// in-process virtual box, for windows of three sizes (the argument is the
// window's width). Runs on the platform QT_QPA_PLATFORM names (offscreen when
// unset), so the same moves can be timed on an X server with xcb.

#include "app/Form.h"
#include "app/Theme.h"
#include "device/HidPro.h"
#include "editor/Peqa.h"
#include "interop/Measurement.h"
#include "sim/InProcessBox.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QMouseEvent>

#include <qcustomplot.h>

#include <cmath>
#include <memory>

namespace {

class QuietUi final : public ktv::UserInterface {
public:
    void ShowMessage(std::string_view) override {}
    void SetStatus(ktv::StatusPanel, std::string_view) override {}
    void SetBusyCursor(bool) override {}
    void Sleep(int) override {}
};

void Send(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void Settle(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms)
        QApplication::processEvents();
}

// A window of the given width, built at that size as on a screen of that
// size (the chart lays out its columns when first shown).
std::unique_ptr<ktv::TFormMain> window;
int shownWidth = 0;

ktv::TFormMain& Window(int width)
{
    if (!window || shownWidth != width) {
        window.reset();
        ktv::Hid().CloseDevice();
        ktv::Hid().OpenDevice();
        window = std::make_unique<ktv::TFormMain>();
        window->resize(width, width == 1120 ? 650 : width * 9 / 16);
        window->show();
        QElapsedTimer waited;
        waited.start();
        while (window->FormPEQA()->GridCount() == 0 && waited.elapsed() < 5000)
            QApplication::processEvents();
        Settle(300); // let the first drawing settle before measuring
        shownWidth = width;
    }
    return *window;
}

void BM_DragMove(benchmark::State& state)
{
    ktv::TFormMain& window = Window(int(state.range(0)));
    ktv::TFormPEQA* editor = window.FormPEQA();
    QCustomPlot* chart = editor->ChartFR();
    const QPoint start = editor->PointPixel(4);
    Send(chart, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    if (!editor->Dragging())
        state.SkipWithError("press missed the band point");
    int step = 0;
    for (auto _ : state) {
        // Sweep back and forth so every move changes Fc and gain.
        const int dx = (step % 40) < 20 ? (step % 20) * 3 : (20 - step % 20) * 3;
        ++step;
        Send(chart, QEvent::MouseMove, start + QPoint(dx, -dx / 2), Qt::NoButton, Qt::LeftButton);
        QApplication::processEvents(); // the repaint the move asked for
    }
    Send(chart, QEvent::MouseButtonRelease, start, Qt::LeftButton, Qt::NoButton);
    QApplication::processEvents();
    state.counters["chart_px"] = double(chart->width()) * chart->height();
}
BENCHMARK(BM_DragMove)->Arg(1120)->Arg(1920)->Arg(3840)->Unit(benchmark::kMillisecond);

// The same with a measurement and its prediction on the chart: a room
// response at 1/48 octave with a few modes, as REW exports it.
void BM_DragMoveWithMeasurement(benchmark::State& state)
{
    ktv::Measurement m;
    for (int i = 0; i <= 480; ++i) {
        const double hz = 20.0 * std::exp2(i / 48.0);
        m.Hz.push_back(hz);
        m.Db.push_back(75.0 + 6.0 * std::sin(i / 9.0) + (hz < 120 ? 8.0 : 0.0));
    }
    ktv::TFormPEQA* editor = Window(int(state.range(0))).FormPEQA();
    editor->SetMeasurement(m);
    Settle(100); // the whole replot the new series asked for
    BM_DragMove(state);
    editor->ClearMeasurement();
    Settle(100);
}
BENCHMARK(BM_DragMoveWithMeasurement)->Arg(1120)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ktv::ApplyTheme(app);
    // The window as on a first run, and the user's remembered settings untouched.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());

    QuietUi ui;
    ktv::SetUserInterface(&ui);
    ktv::InProcessBox box;
    ktv::Hid().SetPlatform(&box);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    window.reset();
    ktv::Hid().CloseDevice();
    ktv::Hid().SetPlatform(nullptr);
    ktv::SetUserInterface(nullptr);
    return 0;
}
