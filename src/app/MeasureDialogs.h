#pragma once
// Measure › Sweep… and Measure › Live analyser: the sound card (or, in tests,
// a simulated room) measured off the window thread, the result shown on the
// chart as the channel's measurement.

#include "measure/Analyser.h"
#include "measure/Audio.h"
#include "measure/Measure.h"

#include <QDialog>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QComboBox;
class QDoubleSpinBox;
class QSpinBox;
class QLineEdit;
class QProgressBar;
class QLabel;
class QPushButton;
class QCheckBox;
class QTimer;

namespace ktv {

class FileDialogs;
struct Measurement;

// Where the dialogs get their sound card; tests put a simulated room here.
using AudioFactory = std::function<std::unique_ptr<measure::AudioDevice>()>;
AudioFactory& MeasureAudioFactory();

class SweepDialog : public QDialog {
    Q_OBJECT
public:
    // `show` puts a finished measurement on the chart; `files` asks for the
    // calibration file and where to save.
    SweepDialog(QWidget* parent, FileDialogs& files, std::function<void(const Measurement&)> show);
    ~SweepDialog() override;

    // Names the channel whose measurement the sweep becomes.
    void ShowChannel(const QString& name);
    void StartMeasuring();
    bool Busy() const { return worker_.joinable() && !done_; }
    const QString& LastMessage() const { return message_; }
    // Every text the take's progress bar showed during the last measurement.
    const QStringList& ProgressSeen() const { return progressSeen_; }
    const measure::Response& Result() const { return result_; }

private:
    void StartMeter();
    void StopMeter();
    void Finished(bool ok, const QString& why);
    void ShowProgress(const measure::MeasureProgress& p);
    void SaveResult();

    FileDialogs& files_;
    std::function<void(const Measurement&)> show_;
    std::unique_ptr<measure::AudioDevice> audio_;
    QComboBox *out_, *in_;
    QDoubleSpinBox *level_, *length_, *lo_, *hi_, *gate_;
    QSpinBox* positions_;
    QLineEdit* calibration_;
    QProgressBar *meter_, *progress_;
    QStringList progressSeen_;
    QLabel* status_;
    QPushButton *measure_, *save_;
    QTimer* meterTimer_;
    std::atomic<float> meterPeak_{0};
    std::thread worker_;
    std::atomic<bool> done_{true};
    measure::Response result_;
    QString message_;
};

class AnalyserDialog : public QDialog {
    Q_OBJECT
public:
    AnalyserDialog(QWidget* parent, std::function<void(const Measurement&)> show);
    ~AnalyserDialog() override;

    void Start();
    void Stop();
    bool Running() const { return running_; }
    int Refreshes() const { return refreshes_; }

private:
    void Refresh();

    std::function<void(const Measurement&)> show_;
    std::unique_ptr<measure::AudioDevice> audio_;
    QComboBox *out_, *in_, *bands_;
    QDoubleSpinBox* level_;
    QSpinBox* averages_;
    QCheckBox *peak_, *noise_;
    QPushButton* start_;
    QLabel* status_;
    QTimer* timer_;
    std::mutex lock_;
    std::unique_ptr<measure::Analyser> analyser_;
    std::unique_ptr<measure::PinkNoise> pink_;
    bool running_ = false;
    int refreshes_ = 0;
};

} // namespace ktv
