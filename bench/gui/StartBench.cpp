// Start to a mapped window: a fresh process that builds the tuning window the
// way ktvtune does and says so the moment the window is exposed, against the
// same for a bare QMainWindow. Run with --benchmark_enable_random_interleaving
// so that both see the same load on the machine. The clock stops when the
// child says its window is exposed; the time the child then takes to end is
// shown apart ("exit_ms"): closing the window's device watcher makes the
// kernel wait out a grace period, which is no part of starting.

#include "app/Form.h"
#include "app/Theme.h"
#include "device/HidPro.h"
#include "device/platform/DeviceWatcher.h"
#include "device/platform/LinuxHidPlatform.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMainWindow>
#include <QWindow>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr const char* ChildFlag = "--start-child=";
constexpr int ExposedFd = 3; // the child writes a byte here once exposed

// Reports the first exposure of the window it watches and ends the process.
class ExposeWatch : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            const char byte = 1;
            (void)!write(ExposedFd, &byte, 1);
            std::_Exit(0);
        }
        return false;
    }
};

int RunChild(int argc, char** argv, bool full)
{
    if (full)
        ktv::WarmUpFonts(); // as in ktvtune's main
    QApplication app(argc, argv);
    std::unique_ptr<ktv::LinuxHidPlatform> platform;
    std::unique_ptr<ktv::DeviceWatcher> watcher;
    std::unique_ptr<QWidget> window;
    if (full) {
        // As in ktvtune's main.
        ktv::ApplyTheme(app);
        QApplication::setApplicationName("ktvtune");
        QApplication::setApplicationDisplayName(ktv::ProductName);
        platform = std::make_unique<ktv::LinuxHidPlatform>();
        ktv::Hid().SetPlatform(platform.get());
        watcher = std::make_unique<ktv::DeviceWatcher>();
        auto form = std::make_unique<ktv::TFormMain>(nullptr, watcher.get());
        ktv::SetUserInterface(&form->Interface());
        window = std::move(form);
    } else {
        window = std::make_unique<QMainWindow>();
        window->resize(1120, 650);
    }
    ExposeWatch watch;
    window->winId(); // the native window exists before it is shown
    window->windowHandle()->installEventFilter(&watch);
    window->show();
    return app.exec();
}

void BM_StartToMappedWindow(benchmark::State& state)
{
    const bool full = state.range(0) != 0;
    std::string flag = std::string(ChildFlag) + (full ? "window" : "bare");
    char self[] = "/proc/self/exe";
    char* args[] = {self, flag.data(), nullptr};
    double exitSeconds = 0;
    for (auto _ : state) {
        int exposed[2];
        if (pipe2(exposed, O_CLOEXEC) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, exposed[1], ExposedFd);
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, self, &actions, nullptr, args, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(exposed[1]);
        if (spawned != 0) {
            close(exposed[0]);
            state.SkipWithError("spawn failed");
            break;
        }
        char byte = 0;
        const bool said = read(exposed[0], &byte, 1) == 1;
        const auto mapped = std::chrono::steady_clock::now();
        close(exposed[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        const std::chrono::duration<double> took = mapped - start;
        exitSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - mapped).count();
        if (!said || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the child did not show its window");
            break;
        }
        state.SetIterationTime(took.count());
    }
    state.counters["exit_ms"] = benchmark::Counter(exitSeconds * 1e3, benchmark::Counter::kAvgIterations);
    state.SetLabel(full ? "ktvtune window" : "bare QMainWindow");
}
BENCHMARK(BM_StartToMappedWindow)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && std::strncmp(argv[1], ChildFlag, std::strlen(ChildFlag)) == 0)
        return RunChild(1, argv, std::strcmp(argv[1] + std::strlen(ChildFlag), "window") == 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
