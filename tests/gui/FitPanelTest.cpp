// EQ > Fit to measurement: Fit previews without a byte sent, Apply puts the
// bands into the shown channel and sends one run of PeqBands requests;
// bypassed and unticked bands stay; the limits and the target reach the fit.

#include "support/GuiHarness.h"

#include "Cli.h"
#include "presets/DapFile.h"
#include "sim/InProcessBox.h"

#include "dsp/Filter.h"
#include "dsp/StepTables.h"
#include "editor/FitPanel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <fstream>

using namespace ktv;
using namespace ktv::test;

namespace {

// A room with resonances (Fc, Q, dB above the rest), written as REW writes a
// text export (96 points per octave).
void WriteRoom(const QString& path, std::initializer_list<std::array<float, 3>> peaks)
{
    std::ofstream out(path.toStdString());
    out << "* Measurement data measured by REW V5.20\n* Freq(Hz) SPL(dB) Phase(degrees)\n";
    for (double f = 20.0; f <= 20000.0; f *= std::pow(2.0, 1.0 / 96)) {
        double db = 75.0;
        for (const auto& p : peaks) {
            PeqBand b{std::uint8_t(FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Bell)), p[0], p[1], p[2], {}};
            DesignBand(b);
            db += MagnitudeDb(b.Coef, float(f));
        }
        out << f << ' ' << db << " 0\n";
    }
}

// A headphone-like response written the same way: fourth-order roll-offs
// at 60 Hz and 9 kHz and two peaks, which a cuts-only fit meets by lowering
// the level about 8 dB.
void WriteHeadphone(const QString& path)
{
    std::ofstream out(path.toStdString());
    out << "* Measurement data measured by REW V5.20\n* Freq(Hz) SPL(dB) Phase(degrees)\n";
    PeqBand low{std::uint8_t(FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Bell)), 200.0f, 2.0f, 5.0f, {}};
    PeqBand high{std::uint8_t(FlagBandOn | FlagChannelEqOn | std::uint8_t(FilterType::Bell)), 3000.0f, 3.0f, 6.0f, {}};
    DesignBand(low);
    DesignBand(high);
    for (double f = 20.0; f <= 20000.0; f *= std::pow(2.0, 1.0 / 96))
        out << f << ' '
            << 90.0 + 6.0 * std::log10(1.0 / (1.0 + std::pow(60.0 / f, 4))) +
                   6.0 * std::log10(1.0 / (1.0 + std::pow(f / 9000.0, 4))) + MagnitudeDb(low.Coef, float(f)) +
                   MagnitudeDb(high.Coef, float(f))
            << " 0\n";
}

// The requests a run over first..first+count-1 is: at most six bands each,
// the records as the image holds them.
std::vector<Bytes> RunPayloads(int first, int count)
{
    std::vector<Bytes> run;
    for (int done = 0; done < count; done += 6) {
        const int n = std::min(6, count - done);
        Bytes p{0x20, std::uint8_t(first + done), std::uint8_t(n)};
        for (int j = 0; j < n; ++j) {
            std::uint8_t record[BandRecordSize];
            EncodeBandRecord(DspParams.Band[std::size_t(first + done + j)], record);
            p.insert(p.end(), record, record + BandRecordSize);
        }
        run.push_back(p);
    }
    return run;
}

} // namespace

class FitPanelTest : public QObject {
    Q_OBJECT
    GuiHarness h;
    QTemporaryDir dir;

    TFitPanel* Open()
    {
        QAction* action = h.Form().findChild<QAction*>("FitToMeasurement1");
        if (!action)
            return nullptr;
        action->trigger();
        TFitPanel* panel = h.Form().FitPanel();
        if (panel)
            h.Form().Files().Choose = [this](const FileQuestion&) { return dir.filePath("room.txt"); };
        return panel;
    }
    template <class T> T* In(TFitPanel* panel, const char* name) { return panel->findChild<T*>(name); }
    void Click(TFitPanel* panel, const char* name) { In<QPushButton>(panel, name)->click(); }

private slots:
    void init()
    {
        h.Start();
        WriteRoom(dir.filePath("room.txt"), {{63.2f, 4.0f, 8.0f}, {180.0f, 3.0f, 5.0f}, {2530.0f, 2.0f, 4.0f}});
    }
    void cleanup() { h.Stop(); }

    void thePanelNamesItsChannelAndCloses()
    {
        h.SelectTab(1);
        TFitPanel* panel = Open();
        QVERIFY(panel && panel->isVisible());
        QCOMPARE(panel->windowTitle(), QString("Fit to measurement: MUSIC"));
        h.SelectTab(4);
        QCOMPARE(panel->windowTitle(), QString("Fit to measurement: CENTER"));

        // Escape from one of its fields closes it, and so does Close.
        panel->activateWindow();
        QTest::keyClick(In<QDoubleSpinBox>(panel, "FitLow"), Qt::Key_Escape);
        QVERIFY(!panel->isVisible());
        QCOMPARE(Open(), panel);
        QVERIFY(panel->isVisible());
        auto* close = In<QPushButton>(panel, "FitClose");
        QVERIFY(close && close->text() == "Close");
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!panel->isVisible());
        QVERIFY(h.TakeRequests().empty());
    }

    void fitPreviewsWithoutSendingAndApplySendsTheChannelAsOneRun()
    {
        h.SelectTab(1); // MUSIC: bands 7..13
        h.ClearTraffic();
        TFitPanel* panel = Open();
        QVERIFY(panel);
        QVERIFY(panel->isVisible());
        QCOMPARE(In<QLabel>(panel, "FitErrors")->text(), QString("Load a measurement of the channel first."));
        QVERIFY(!In<QPushButton>(panel, "FitButton")->isEnabled());
        Click(panel, "FitMeasurementFile");
        QCOMPARE(In<QLabel>(panel, "FitMeasurementName")->text(), QString("room.txt"));
        QVERIFY(!In<QPushButton>(panel, "ApplyButton")->isEnabled());

        const auto before = DspParams.Band;
        Click(panel, "FitButton");
        QVERIFY(panel->Result());
        const FitResult& r = *panel->Result();
        QVERIFY(h.TakeRequests().empty());
        for (int k = 0; k < BandTotal; ++k)
            QVERIFY(SameBand(DspParams.Band[std::size_t(k)], before[std::size_t(k)]));
        QVERIFY(r.Before.RmsDb > 1.0);
        QVERIFY(r.After.RmsDb < r.Before.RmsDb / 4);
        const QString errors = In<QLabel>(panel, "FitErrors")->text();
        // The room's peaks are cut: the level this costs is said.
        QVERIFY(r.LevelChangeDb <= -0.05);
        QCOMPARE(errors, QString("Error over 40 to 16000 Hz: before RMS %1 dB, largest %2 dB; after RMS %3 dB, largest %4 dB"
                                 "\nThe fit lowers the level by %5 dB.")
                             .arg(r.Before.RmsDb, 0, 'f', 2)
                             .arg(r.Before.LargestDb, 0, 'f', 2)
                             .arg(r.After.RmsDb, 0, 'f', 2)
                             .arg(r.After.LargestDb, 0, 'f', 2)
                             .arg(-r.LevelChangeDb, 0, 'f', 1));
        auto* table = In<QTableWidget>(panel, "FitBands");
        QCOMPARE(table->rowCount(), 7);
        QCOMPARE(table->item(0, 0)->text(), QString("Bell"));
        QCOMPARE(table->item(0, 1)->text(), FormatBandValue(r.Bands[0].Fc, 6));
        // The table shows what the box will hold: Q in tenths.
        for (int k = 0; k < 7; ++k)
            QCOMPARE(table->item(k, 2)->text(), QString::number(double(BoxHeld(r.Bands[std::size_t(k)]).Q), 'f', 1));

        Click(panel, "ApplyButton");
        for (int k = 0; k < 7; ++k)
            QVERIFY(SameBand(DspParams.Band[std::size_t(7 + k)], r.Bands[std::size_t(k)]));
        QCOMPARE(h.TakeRequests(), RunPayloads(7, 7));
        // The box now holds exactly what the window shows: nothing to compare.
        for (int k = 7; k < 14; ++k) {
            PeqBand held;
            DecodeBandRecord(&h.box->Box.Current.Bands[BandRecordSize * std::size_t(k)], held);
            QCOMPARE(held.Fc, DspParams.Band[std::size_t(k)].Fc);
            QCOMPARE(held.Q, DspParams.Band[std::size_t(k)].Q);
            QCOMPARE(held.Gain, DspParams.Band[std::size_t(k)].Gain);
        }
        QCOMPARE(h.Find<QLineEdit>("FcEdit1")->text(), FormatBandValue(r.Bands[0].Fc, 6));
        QVERIFY(!In<QPushButton>(panel, "ApplyButton")->isEnabled());

        // One undo step takes the whole fit back, and sends it when linked.
        QApplication::processEvents();
        QAction* undo = h.Form().findChild<QAction*>("Undo1");
        QCOMPARE(undo->text(), QString("Undo Fit to measurement"));
        QCOMPARE(h.Form().History().UndoCount(), std::size_t(1));
        Hid().Linked = true;
        undo->trigger();
        for (int k = 0; k < BandTotal; ++k)
            QVERIFY(SameBand(DspParams.Band[std::size_t(k)], before[std::size_t(k)]));
        QCOMPARE(h.TakeRequests(), RunPayloads(7, 7));
        QCOMPARE(h.Find<QLineEdit>("FcEdit1")->text(), FormatBandValue(before[7].Fc, 6));
    }

    void theChartsMeasurementOfTheChannelIsTheOneFitted()
    {
        h.SelectTab(1);
        QVERIFY(h.Form().LoadMeasurement(dir.filePath("room.txt")));
        TFitPanel* panel = Open();
        QVERIFY(panel);
        QCOMPARE(In<QLabel>(panel, "FitMeasurementName")->text(), QString("the chart's measurement"));
        QVERIFY(In<QPushButton>(panel, "FitButton")->isEnabled());
        Click(panel, "FitButton");
        QVERIFY(panel->Result());
        QVERIFY(panel->Result()->After.RmsDb < panel->Result()->Before.RmsDb / 4);
    }

    // The window and ktvtune-cli fit give the same bands for one measurement
    // file, target and options: the chart's measurement (shown shifted) is
    // fitted as the file holds it, as the CLI reads it.
    void theWindowAndTheCliFitTheSameBands()
    {
        // A room whose level is far from the chart's 0 dB, with close peaks.
        WriteRoom(dir.filePath("club.txt"),
                  {{56.4f, 6.0f, 9.0f}, {61.0f, 3.0f, 4.0f}, {180.0f, 3.0f, 5.0f}, {2530.0f, 2.0f, 4.0f}});
        h.SelectTab(1); // MUSIC: bands 7..13
        QVERIFY(h.Form().LoadMeasurement(dir.filePath("club.txt")));
        TFitPanel* panel = Open();
        QVERIFY(panel);
        Click(panel, "FitButton");
        QVERIFY(panel->Result());
        const FitResult window = *panel->Result();
        QVERIFY(window.After.RmsDb < window.Before.RmsDb / 3);

        // ktvtune-cli fit on the same file from the window's bands, in this
        // process (it works on the one image: the window's is kept aside).
        const DspParamsImage shown = DspParams;
        QVERIFY(WriteDapFile(dir.filePath("in.dap").toStdString()));
        const std::string file = dir.filePath("club.txt").toStdString(), in = dir.filePath("in.dap").toStdString(),
                          out = dir.filePath("out.dap").toStdString();
        const char* argv[] = {"ktvtune-cli", "fit", file.c_str(), "--channel", "MUSIC", "--preset", in.c_str(), "-o",
                              out.c_str()};
        std::FILE* printed = std::tmpfile();
        std::FILE* said = std::tmpfile();
        InProcessBox none;
        int status = -1;
        {
            cli::Context cx(printed, said, none);
            status = cli::RunCommandLine(cx, int(std::size(argv)), argv);
        }
        std::fclose(printed);
        std::fclose(said);
        QCOMPARE(status, 0);
        LoadDefaults();
        QVERIFY(ReadDapFile(out));
        const DspParamsImage cli = DspParams;
        DspParams = shown;
        for (int k = 0; k < 7; ++k) {
            const PeqBand& a = window.Bands[std::size_t(k)];
            const PeqBand& b = cli.Band[std::size_t(7 + k)];
            QCOMPARE(a.Flags, b.Flags);
            QCOMPARE(a.Fc, b.Fc);
            QCOMPARE(a.Q, b.Q);
            QCOMPARE(a.Gain, b.Gain);
        }
        // And the window's table shows those values.
        auto* table = In<QTableWidget>(panel, "FitBands");
        for (int k = 0; k < 7; ++k)
            QCOMPARE(table->item(k, 2)->text(), QString::number(double(cli.Band[std::size_t(7 + k)].Q), 'f', 1));
    }

    void bypassedAndUntickedBandsAreLeftAlone()
    {
        h.SelectTab(3); // MAIN: bands 14..18
        h.Find<QCheckBox>("FEn2")->click();
        QVERIFY(!(DspParams.Band[15].Flags & FlagBandOn));
        TFitPanel* panel = Open();
        QVERIFY(panel);
        QVERIFY(!In<QCheckBox>(panel, "FitBand2")->isEnabled());
        QVERIFY(!In<QCheckBox>(panel, "FitBand6")->isVisible());
        In<QCheckBox>(panel, "FitBand4")->setChecked(false);
        Click(panel, "FitMeasurementFile");
        const auto before = DspParams.Band;
        h.ClearTraffic();

        Click(panel, "FitButton");
        QVERIFY(panel->Result());
        QCOMPARE(panel->Result()->Fitted, (std::vector<bool>{true, false, true, false, true}));
        QCOMPARE(In<QTableWidget>(panel, "FitBands")->item(1, 0)->text(), QString("Bell (left alone)"));
        Click(panel, "ApplyButton");
        QVERIFY(SameBand(DspParams.Band[15], before[15]));
        QVERIFY(SameBand(DspParams.Band[17], before[17]));
        QVERIFY(!SameBand(DspParams.Band[14], before[14]));
        QCOMPARE(h.TakeRequests(), RunPayloads(14, 5));
    }

    void limitsRangeAndTargetReachTheFit()
    {
        TFitPanel* panel = Open();
        QVERIFY(panel);
        Click(panel, "FitMeasurementFile");
        In<QDoubleSpinBox>(panel, "FitMaxBoost")->setValue(3.0);
        In<QDoubleSpinBox>(panel, "FitMaxCut")->setValue(-6.0);
        In<QDoubleSpinBox>(panel, "FitLow")->setValue(100.0);
        In<QDoubleSpinBox>(panel, "FitHigh")->setValue(5000.0);
        In<QComboBox>(panel, "FitTarget")->setCurrentIndex(1);
        In<QDoubleSpinBox>(panel, "FitTilt")->setValue(-1.0);
        Click(panel, "FitButton");
        QVERIFY(panel->Result());
        const FitResult& r = *panel->Result();
        QCOMPARE(r.LowHz, 100.0);
        QCOMPARE(r.HighHz, 5000.0);
        for (const PeqBand& b : r.Bands) {
            QVERIFY(b.Gain >= -6.0f && b.Gain <= 3.0f);
            QVERIFY(b.Fc >= 100.0f && b.Fc <= 5000.0f);
        }
        // A tilt of -1 dB per octave: the target falls 1 dB from 1 to 2 kHz.
        const auto at = [&](double hz) {
            return std::lower_bound(r.Hz.begin(), r.Hz.end(), hz) - r.Hz.begin();
        };
        QVERIFY(std::abs(r.TargetDb[std::size_t(at(2000.0))] - r.TargetDb[std::size_t(at(1000.0))] + 1.0) < 0.03);

        // A changed limit drops the fit: nothing stale can be applied.
        In<QDoubleSpinBox>(panel, "FitMaxCut")->setValue(-3.0);
        QVERIFY(!panel->Result());
        QVERIFY(!In<QPushButton>(panel, "ApplyButton")->isEnabled());
    }

    void theLevelDropIsLimitedWhenAskedAndTheLimitRemembered()
    {
        WriteHeadphone(dir.filePath("headphone.txt"));
        TFitPanel* panel = Open();
        QVERIFY(panel);
        h.Form().Files().Choose = [this](const FileQuestion&) { return dir.filePath("headphone.txt"); };
        Click(panel, "FitMeasurementFile");
        auto* limit = In<QDoubleSpinBox>(panel, "FitMaxLevelDrop");
        QCOMPARE(limit->text(), QString("Unlimited"));
        Click(panel, "FitButton");
        QVERIFY(panel->Result());
        QVERIFY(panel->Result()->LevelChangeDb < -6.0);

        limit->setValue(2.0);
        QVERIFY(!panel->Result()); // a changed limit drops the fit
        Click(panel, "FitButton");
        QVERIFY(panel->Result());
        const FitResult& r = *panel->Result();
        QVERIFY2(r.LevelChangeDb >= -2.0 - 1e-9 && r.LevelChangeDb <= -1.9, qPrintable(QString::number(r.LevelChangeDb)));
        QVERIFY(In<QLabel>(panel, "FitErrors")
                    ->text()
                    .endsWith(QString("\nThe fit lowers the level by %1 dB.").arg(-r.LevelChangeDb, 0, 'f', 1)));

        // The next window starts with the limit the user chose.
        h.keepSettings = true;
        h.Stop();
        h.Start();
        h.keepSettings = false;
        panel = Open();
        QVERIFY(panel);
        QCOMPARE(In<QDoubleSpinBox>(panel, "FitMaxLevelDrop")->value(), 2.0);
    }

    void theSubwooferIsFittedBelow250HzUnlessTheUserSaysOtherwise()
    {
        TFitPanel* panel = Open(); // MIC
        auto* low = In<QDoubleSpinBox>(panel, "FitLow");
        auto* high = In<QDoubleSpinBox>(panel, "FitHigh");
        QCOMPARE(low->value(), 40.0);
        QCOMPARE(high->value(), 16000.0);
        h.SelectTab(5); // SUB
        panel->ShowChannel();
        QCOMPARE(low->value(), 20.0);
        QCOMPARE(high->value(), 250.0);
        h.SelectTab(1);
        panel->ShowChannel();
        QCOMPARE(high->value(), 16000.0);
        // A range the user set stays.
        high->setValue(8000.0);
        h.SelectTab(5);
        panel->ShowChannel();
        QCOMPARE(high->value(), 8000.0);
    }

    void anotherChannelAChangedBandOrAMissingTargetLeavesNothingToApply()
    {
        TFitPanel* panel = Open(); // MIC
        QVERIFY(panel);
        Click(panel, "FitMeasurementFile");
        Click(panel, "FitButton");
        QVERIFY(In<QPushButton>(panel, "ApplyButton")->isEnabled());
        h.SelectTab(1);
        QVERIFY(!In<QPushButton>(panel, "ApplyButton")->isEnabled());
        h.ClearTraffic();
        panel->ApplyClick();
        QVERIFY(h.TakeRequests().empty());

        // A band bypassed after the fit is not overwritten by it.
        Click(panel, "FitButton");
        h.Find<QCheckBox>("FEn3")->click();
        h.ClearTraffic();
        const PeqBand bypassed = DspParams.Band[9];
        Click(panel, "ApplyButton");
        QVERIFY(h.TakeRequests().empty());
        QVERIFY(SameBand(DspParams.Band[9], bypassed));
        QCOMPARE(In<QLabel>(panel, "FitErrors")->text(), QString("The channel's bands changed since the fit: fit again."));
        QVERIFY(!In<QPushButton>(panel, "ApplyButton")->isEnabled());

        In<QComboBox>(panel, "FitTarget")->setCurrentIndex(2);
        Click(panel, "FitButton");
        QCOMPARE(In<QLabel>(panel, "FitErrors")->text(), QString("Choose a target curve file first."));
        QVERIFY(!panel->Result());

        std::ofstream(dir.filePath("bad.txt").toStdString()) << "Freq SPL\n1000 80\n500 80\n";
        h.Form().Files().Choose = [this](const FileQuestion&) { return dir.filePath("bad.txt"); };
        Click(panel, "FitTargetFile");
        QVERIFY(In<QLabel>(panel, "FitErrors")->text().startsWith("bad.txt cannot be used: "));
        QVERIFY(h.TakeRequests().empty());
    }
};

QTEST_MAIN(FitPanelTest)
#include "FitPanelTest.moc"
