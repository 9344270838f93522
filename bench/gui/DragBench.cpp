// One mouse move of a left drag on a seven-band channel: band edit, full
// refresh (design, curves, rows) and the chart repaint, on the offscreen
// platform against the in-process virtual box.

#include "app/Form.h"
#include "app/Theme.h"
#include "device/HidPro.h"
#include "device/InProcessBox.h"
#include "editor/Peqa.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>

#include <qcustomplot.h>

namespace {

class QuietUi final : public ktv::UserInterface {
public:
    void ShowMessage(std::string_view) override {}
    void SetStatus(ktv::StatusPanel, std::string_view) override {}
    void SetBusyCursor(bool) override {}
    void Sleep(int) override {}
};

ktv::TFormMain* form = nullptr;

void Send(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void BM_DragMove(benchmark::State& state)
{
    ktv::TFormPEQA* editor = form->FormPEQA();
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
}
BENCHMARK(BM_DragMove)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ktv::ApplyTheme(app);

    QuietUi ui;
    ktv::SetUserInterface(&ui);
    ktv::InProcessBox box;
    ktv::Hid().SetPlatform(&box);
    ktv::Hid().OpenDevice();

    ktv::TFormMain window;
    form = &window;
    window.show();
    QElapsedTimer waited;
    waited.start();
    while (window.FormPEQA()->GridCount() == 0 && waited.elapsed() < 5000)
        QApplication::processEvents();

    // Let the first drawing settle before measuring.
    waited.restart();
    while (waited.elapsed() < 300)
        QApplication::processEvents();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    ktv::Hid().CloseDevice();
    ktv::Hid().SetPlatform(nullptr);
    ktv::SetUserInterface(nullptr);
    return 0;
}
