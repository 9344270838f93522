// Other tools' files in the window: filter files into the shown channel (one
// run of PeqBands requests), the channel out as filter text, a measurement
// and its prediction on the chart, and the chart exported.

#include "support/GuiHarness.h"

#include "editor/EditorControls.h"
#include "params/Commands.h"

#include <qcustomplot.h>

#include <QAbstractItemView>
#include <QAction>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace ktv;
using namespace ktv::test;

namespace {

Bytes BandRunPayload(int first, int count)
{
    Bytes p{std::uint8_t(DspCommand::PeqBands), std::uint8_t(first), std::uint8_t(count)};
    for (int k = first; k < first + count; ++k) {
        std::uint8_t record[BandRecordSize];
        EncodeBandRecord(DspParams.Band[std::size_t(k)], record);
        p.insert(p.end(), record, record + BandRecordSize);
    }
    return p;
}

std::array<PeqBand, BandTotal> BandsNow() { return DspParams.Band; }

bool SameBands(const std::array<PeqBand, BandTotal>& a, const std::array<PeqBand, BandTotal>& b)
{
    for (int k = 0; k < BandTotal; ++k)
        if (a[std::size_t(k)].Flags != b[std::size_t(k)].Flags || a[std::size_t(k)].Fc != b[std::size_t(k)].Fc ||
            a[std::size_t(k)].Q != b[std::size_t(k)].Q || a[std::size_t(k)].Gain != b[std::size_t(k)].Gain)
            return false;
    return true;
}

} // namespace

class InteropTest : public QObject {
    Q_OBJECT
    GuiHarness h;
    QTemporaryDir dir;

    TFormPEQA& E() { return h.Editor(); }
    PeqBand& Band(int k) { return DspParams.Band[std::size_t(k)]; }
    QString Write(const char* name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    QByteArray Read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init() { h.Start(); }
    void cleanup() { h.Stop(); }

    void importSendsTheChannelAsOneRunAndReports()
    {
        // A seven-band channel takes two requests (six bands, then one); a
        // five-band channel one.
        const QString path = Write("room.txt", "Filter Settings file\r\n"
                                               "Preamp: -5.5 dB\r\n"
                                               "Filter  1: ON  PK       Fc   63.2 Hz  Gain  -6.0 dB  Q  4.10\r\n"
                                               "Filter  2: OFF PK       Fc   1000 Hz  Gain   3.0 dB  Q  1.00\r\n"
                                               "Filter  3: ON  HSC      Fc   8000 Hz  Gain  -2.5 dB  Q  0.70\r\n");
        h.ClearTraffic();
        QVERIFY(h.Form().ImportFilters(path));
        QCOMPARE(Band(0).Fc, 63.2f);
        QCOMPARE(Band(0).Gain, -6.0f);
        QCOMPARE(Band(1).Flags & FlagBandOn, 0);
        QCOMPARE(Band(2).Flags & FlagTypeMask, int(FilterType::HighShelf));
        QCOMPARE(Band(2).Fc, 7970.0f);
        for (int k = 3; k < 7; ++k) {
            QCOMPARE(Band(k).Flags, DefaultBandFlags);
            QCOMPARE(Band(k).Gain, 0.0f);
        }
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{BandRunPayload(0, 6), BandRunPayload(6, 1)}));
        QCOMPARE(h.Find<QLineEdit>("FcEdit1")->text(), QString("63.2"));
        QCOMPARE(h.Find<QLineEdit>("FGainEdit3")->text(), QString("-2.5"));
        QVERIFY(h.ui.rec.messages.empty());

        const QString report = h.Form().ImportReport()->toPlainText();
        QVERIFY2(report.startsWith("room.txt into MIC:\n"), qPrintable(report));
        QVERIFY2(report.contains("Line 3 \"Filter  1: ON  PK       Fc   63.2 Hz  Gain  -6.0 dB  Q  4.10\": band 1 Bell "
                                "63.2 Hz Q 4.1 -6.0 dB (as given)"), qPrintable(report));
        QVERIFY(report.contains("band 2 Bell 1000 Hz Q 1.0 +3.0 dB (OFF in the file: bypassed)"));
        QVERIFY(report.contains("Fc snapped from 8000 Hz"));
        QVERIFY(report.contains("Preamp -5.5 dB: not applied"));
        QVERIFY(report.contains("\nBands 4..7: flat (Bell, 0 dB)\n"));
        QVERIFY(report.contains("Largest difference from the file's response, 20 Hz - 20 kHz: "));
        QVERIFY(h.Form().findChild<QWidget*>("ImportReportDialog")->isVisible());

        // The import is one step: one undo brings the channel back.
        h.Form().Changes().Undo1Click();
        for (int k = 0; k < 7; ++k)
            QCOMPARE(Band(k).Fc, float(DefaultFcTable[std::size_t(k)]));
        h.Form().Changes().Redo1Click();
        QCOMPARE(Band(0).Fc, 63.2f);

        h.SelectTab(3); // MAIN: bands 14..18
        h.ClearTraffic();
        QVERIFY(h.Form().ImportFilters(path));
        QCOMPARE(Band(14).Fc, 63.2f);
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{BandRunPayload(14, 5)}));
        QVERIFY(h.Form().ImportReport()->toPlainText().startsWith("room.txt into MAIN:\n"));
    }

    void aRefusedFileChangesNothing()
    {
        const QString empty = Write("empty.txt", "Filter Settings file\nPreamp: -3 dB\n# no filters\n");
        const QString missing = dir.filePath("missing.txt");
        const auto before = BandsNow();
        for (const QString& path : {empty, missing}) {
            h.ClearTraffic();
            h.ui.rec.messages.clear();
            QVERIFY(!h.Form().ImportFilters(path));
            QVERIFY(h.TakeRequests().empty());
            QVERIFY(SameBands(before, BandsNow()));
            QCOMPARE(h.ui.rec.messages.size(), std::size_t(1));
        }
        QCOMPARE(QString::fromStdString(h.ui.rec.messages[0]), "Import refused: Cannot open " + missing + ".");
        h.ui.rec.messages.clear();
        QVERIFY(!h.Form().ImportFilters(empty));
        QCOMPARE(QString::fromStdString(h.ui.rec.messages[0]),
                 QString("Import refused: The file holds no filter line that can be used."));
    }

    void exportThenImportGivesBackTheSameBands()
    {
        h.SelectTab(1); // MUSIC: bands 7..13
        const std::array<std::tuple<FilterType, float, float, float, bool>, 7> bands{{
            {FilterType::LowShelf, 101, 0.7f, 4.5f, true},
            {FilterType::Bell, 249, 2.0f, -3.5f, true},
            {FilterType::Bell, 1000, 0.98f, 2.0f, false},
            {FilterType::HighShelf, 8120, 1.4f, -6.0f, true},
            {FilterType::HighPass, 30.3f, 0.7f, 0, true},
            {FilterType::LowPass, 18000, 0.5f, 0, true},
            {FilterType::Notch, 60.8f, 30, 0, true},
        }};
        for (int i = 0; i < 7; ++i) {
            auto [type, fc, q, gain, on] = bands[std::size_t(i)];
            Band(7 + i) = {};
            Band(7 + i).Flags = std::uint8_t((on ? FlagBandOn : 0) | FlagChannelEqOn | std::uint8_t(type));
            Band(7 + i).Fc = fc;
            Band(7 + i).Q = q;
            Band(7 + i).Gain = gain;
        }
        // What the box holds (Q 0.98 is held as 1.0) is what comes back.
        auto before = BandsNow();
        for (PeqBand& b : before)
            b = BoxHeld(b);
        const QString path = dir.filePath("music.txt");
        QVERIFY(h.Form().ExportFilters(path));
        const QByteArray text = Read(path);
        QVERIFY2(text.startsWith("# KTV Tune: MUSIC channel, 7 bands\n"
                                 "Filter  1: ON  LSC      Fc  101 Hz  Gain  4.5 dB  Q  0.7\n"),
                 text.constData());
        QVERIFY(text.contains("Filter  3: OFF PK       Fc  1000 Hz  Gain  2.0 dB  Q  1.0\n"));

        // File > Export filters offers each dialect the program writes, REW's
        // first; the one chosen is written.
        QString offered, preselected;
        h.Form().Files().Choose = [&](const FileQuestion& q) {
            offered = q.Filters;
            preselected = *q.Selected;
            *q.Selected = "AutoEq filters (*.txt)";
            return dir.filePath("autoeq");
        };
        h.Find<QAction>("ExportFilters1")->trigger();
        QCOMPARE(offered, QString("REW filters (*.txt);;Equalizer APO filters (*.txt);;AutoEq filters (*.txt)"));
        QCOMPARE(preselected, QString("REW filters (*.txt)"));
        const QByteArray autoEq = Read(dir.filePath("autoeq.txt"));
        QVERIFY2(autoEq.startsWith("Preamp: -3.6 dB\nFilter  1: ON  LSC      Fc  101 Hz  Gain  4.5 dB  Q  0.7\n"),
                 autoEq.constData());

        for (int i = 7; i < 14; ++i)
            SetDefaultBand(Band(i), i - 7);
        QVERIFY(h.Form().ImportFilters(path));
        QVERIFY(SameBands(before, BandsNow()));
    }

    // The box scales a notch's or band pass's numerator by the band's gain
    // (as it does a low or high pass's): the gain is the band's level at
    // every frequency. The box, the chart and the export all take it so.
    void aNotchOrBandPassGainIsTheBandsLevelEverywhere()
    {
        struct Pick {
            int row, item;
            const char* gain;
        };
        for (const Pick& p : {Pick{3, 6, "5"}, Pick{4, 5, "-3"}}) { // a notch at 500 Hz, a band pass at 1 kHz
            const int k = p.row - 1;
            TypeSelector* type = h.Find<TypeSelector>(qPrintable(QString("FTypeSel%1").arg(p.row)));
            type->showPopup();
            type->view()->setCurrentIndex(type->view()->model()->index(p.item, 0));
            QTest::keyClick(type->view(), Qt::Key_Return);
            QCoreApplication::processEvents();
            QCOMPARE(int(Band(k).Flags), 0xC0 | p.item);
            auto* gain = h.Find<QLineEdit>(qPrintable(QString("FGainEdit%1").arg(p.row)));
            QVERIFY(gain->isEnabled());
            gain->setText(p.gain);
            gain->setModified(true);
            QTest::keyClick(gain, Qt::Key_Return);
        }
        // The box gets the gains as typed, in the band records.
        QCOMPARE(Band(2).Gain, 5.0f);
        QCOMPARE(Band(3).Gain, -3.0f);
        const auto requests = h.TakeRequests();
        QCOMPARE(requests.size(), std::size_t(4));
        QCOMPARE(requests[1], (Bytes{0x20, 2, 1, 0xC6, 0x88, 0x13, 0, 0, 7, 0, 0x32, 0x00}));
        QCOMPARE(requests[3], (Bytes{0x20, 3, 1, 0xC5, 0x10, 0x27, 0, 0, 7, 0, 0xE2, 0xFF}));

        // The chart: the notch lifts every frequency but its own by 5 dB; the
        // band pass peaks at -3 dB at its Fc.
        const int n = E().GridCount();
        const auto& notch = E().BandCurve(3);
        const auto& bandPass = E().BandCurve(4);
        QVERIFY(std::abs(notch[0] - 50) < 1 && std::abs(notch[std::size_t(n - 1)] - 50) < 1);
        QVERIFY(*std::min_element(notch.begin(), notch.begin() + n) < -100);
        QVERIFY(std::abs(*std::max_element(bandPass.begin(), bandPass.begin() + n) + 30) < 0.5);
        double sum = 0;
        for (int r = 1; r <= 7; ++r)
            sum += E().BandCurve(r)[0];
        QVERIFY(std::abs(E().SumCurve()[0] - sum) < 1e-6);

        // The export: the levels as one Preamp line (the filter lines of
        // these types have no gain).
        const QString path = dir.filePath("mic.txt");
        QVERIFY(h.Form().ExportFilters(path));
        const QByteArray text = Read(path);
        QVERIFY2(text.startsWith("# KTV Tune: MIC channel, 7 bands\n"
                                 "Preamp: 2.0 dB\n"),
                 text.constData());
        QVERIFY(text.contains("Filter  3: ON  NO       Fc  500 Hz  Q  0.7\n"));
        QVERIFY(text.contains("Filter  4: ON  BP       Fc  1000 Hz  Q  0.7\n"));
    }

    void aMeasurementAndItsPredictionFollowTheChannel()
    {
        // REW's text export on a decimal-comma system: header, then
        // frequency, SPL and phase. 75 dB from 20 Hz to 20 kHz, 81 dB below 100 Hz.
        QByteArray text = "* Measurement data measured by REW V5.20.13\n"
                          "* Source: USB Audio CODEC , Line 1\n"
                          "* Freq(Hz) SPL(dB) Phase(degrees)\n";
        for (int i = 0; i <= 240; ++i) {
            const double hz = 20.0 * std::exp2(i / 24.0);
            text += QString("%1 %2 %3\n")
                        .arg(QString::number(hz, 'f', 3).replace('.', ','))
                        .arg(QString::number(hz < 100 ? 81.0 : 75.0, 'f', 3).replace('.', ','))
                        .arg("-12,5")
                        .toUtf8();
        }
        QVERIFY(h.Form().LoadMeasurement(Write("room.txt", text)));
        QVERIFY(E().HasMeasurement());
        QCustomPlot* chart = E().ChartFR();
        QVERIFY(E().Series(SeriesMeasurement)->visible());
        QVERIFY(E().Series(SeriesPrediction)->visible());
        QVERIFY(chart->legend->visible());
        QCOMPARE(chart->legend->itemCount(), 2);

        const int n = E().GridCount();
        const auto freq = E().Grid().Freq10();
        const auto& measured = E().MeasurementCurve();
        QCOMPARE(int(measured.size()), n);
        for (int i = 0; i < n; ++i) {
            const double hz = freq[std::size_t(i)] / 10.0;
            if (hz < 20.0) {
                QVERIFY(std::isnan(measured[std::size_t(i)]));
            } else if (hz > 101 && hz <= 20000) {
                QVERIFY2(std::abs(measured[std::size_t(i)]) < 1e-9, qPrintable(QString::number(hz))); // 0 dB
            } else if (hz < 95) {
                QVERIFY(std::abs(measured[std::size_t(i)] - 60.0) < 1e-9); // +6 dB, in tenths
            }
        }
        auto predictionIsSum = [&] {
            for (int i = 0; i < n; ++i) {
                const double want = E().MeasurementCurve()[std::size_t(i)] + E().SumCurve()[std::size_t(i)];
                const double got = E().Series(SeriesPrediction)->data()->at(i)->value;
                if (std::isnan(want) ? !std::isnan(got) : std::abs(got - want) > 1e-9)
                    return false;
            }
            return true;
        };
        QVERIFY(predictionIsSum());

        // A drag moves the prediction with every step; the measurement stays.
        const std::vector<double> measuredBefore = E().MeasurementCurve();
        QTest::qWait(20); // the replot the new series asked for, and any layout pending
        const QPoint start = E().PointPixel(4);
        int fullReplots = 0;
        connect(chart, &QCustomPlot::beforeReplot, this, [&] { ++fullReplots; });
        SendMouse(chart, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
        SendMouse(chart, QEvent::MouseMove, start + QPoint(20, -20), Qt::NoButton, Qt::LeftButton);
        QCoreApplication::processEvents();
        SendMouse(chart, QEvent::MouseMove, start + QPoint(30, -40), Qt::NoButton, Qt::LeftButton);
        QCoreApplication::processEvents();
        QVERIFY(Band(3).Gain > 0.0f);
        QVERIFY(predictionIsSum());
        // Moves redraw the curve layer only, as without a measurement.
        QCOMPARE(fullReplots, 0);
        disconnect(chart, &QCustomPlot::beforeReplot, this, nullptr);
        SendMouse(chart, QEvent::MouseButtonRelease, start + QPoint(30, -40), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(E().MeasurementCurve().size(), measuredBefore.size());
        for (std::size_t i = 0; i < measuredBefore.size(); ++i)
            QVERIFY(std::isnan(measuredBefore[i]) ? std::isnan(E().MeasurementCurve()[i])
                                                  : E().MeasurementCurve()[i] == measuredBefore[i]);

        // Each channel has its own: MUSIC has none, MIC still has it.
        h.SelectTab(1);
        QVERIFY(!E().HasMeasurement());
        QVERIFY(!E().Series(SeriesMeasurement)->visible());
        QVERIFY(!chart->legend->visible());
        h.SelectTab(0);
        QVERIFY(E().Series(SeriesMeasurement)->visible());
        QVERIFY(predictionIsSum());

        h.Find<QAction>("ClearMeasurement1")->trigger();
        QVERIFY(!E().HasMeasurement());
        QVERIFY(!E().Series(SeriesMeasurement)->visible());
        QVERIFY(!E().Series(SeriesPrediction)->visible());
        QVERIFY(E().MeasurementCurve().empty());
    }

    void aMeasurementWithFallingFrequenciesIsRefused()
    {
        const QString path = Write("bad.frd", "# speaker\n20 80\n40 81\n30 82\n");
        QVERIFY(!h.Form().LoadMeasurement(path));
        QCOMPARE(h.ui.rec.messages.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(h.ui.rec.messages[0]),
                 QString("Cannot load the measurement: Line 4: the frequency 30 Hz does not rise above 40 Hz."));
        QVERIFY(!E().HasMeasurement());
        QVERIFY(!E().Series(SeriesMeasurement)->visible());
    }

    // A PDF is an A4 page across, and the picture names the channel it shows.
    void theChartPdfIsAnA4PageNamingTheChannel()
    {
        h.SelectTab(1); // MUSIC
        QCustomPlot* chart = E().ChartFR();
        auto* title = qobject_cast<QCPTextElement*>(chart->plotLayout()->element(0, 0));
        QVERIFY(title);
        QStringList drawn;
        const auto watch = connect(chart, &QCustomPlot::afterLayout, this, [&] { drawn << title->text(); });
        const QString pdf = dir.filePath("music.pdf");
        QVERIFY(h.Form().ExportChart(pdf, TFormMain::ChartFormat::Pdf));
        disconnect(watch);
        const QByteArray bytes = Read(pdf);
        const QRegularExpressionMatch box =
            QRegularExpression("/MediaBox \\[0 0 ([0-9.]+) ([0-9.]+)\\]").match(QString::fromLatin1(bytes));
        QVERIFY2(box.hasMatch(), bytes.left(600).constData());
        QCOMPARE(qRound(box.captured(1).toDouble()), 842);
        QCOMPARE(qRound(box.captured(2).toDouble()), 595);
        QVERIFY2(drawn.contains("Frequency Response: MUSIC"), qPrintable(drawn.join('|')));
        // The window's chart keeps its own title and size.
        QCOMPARE(title->text(), QString("Frequency Response"));
        QCOMPARE(chart->viewport().size(), chart->size());
    }

    void theChartExportsAsPicturesAndAsATable()
    {
        QCustomPlot* chart = E().ChartFR();
        using F = TFormMain::ChartFormat;
        const QString png = dir.filePath("chart.png"), png2 = dir.filePath("chart2.png");
        QVERIFY(h.Form().ExportChart(png, F::Png));
        QVERIFY(h.Form().ExportChart(png2, F::Png2x));
        QCOMPARE(QImage(png).size(), chart->size());
        QCOMPARE(QImage(png2).size(), chart->size() * 2);
        const QString pdf = dir.filePath("chart.pdf");
        QVERIFY(h.Form().ExportChart(pdf, F::Pdf));
        QVERIFY(Read(pdf).startsWith("%PDF"));

        const QString csv = dir.filePath("chart.csv");
        QVERIFY(h.Form().ExportChart(csv, F::Csv));
        QStringList rows = QString::fromUtf8(Read(csv)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), E().GridCount() + 1);
        QCOMPARE(rows[0], QString("Frequency (Hz),Band 1 (dB),Band 2 (dB),Band 3 (dB),Band 4 (dB),Band 5 (dB),"
                                  "Band 6 (dB),Band 7 (dB),Sum (dB)"));
        QCOMPARE(rows[1].split(',').size(), 9);
        QCOMPARE(rows[1].split(',')[0], QString("19.0"));

        QVERIFY(h.Form().LoadMeasurement(Write("flat.txt", "100 70\n2000 70\n10000 76\n")));
        QVERIFY(h.Form().ExportChart(csv, F::Csv));
        rows = QString::fromUtf8(Read(csv)).split('\n', Qt::SkipEmptyParts);
        QVERIFY(rows[0].endsWith(",Sum (dB),Measurement (dB),Prediction (dB)"));
        // Below 100 Hz the measurement has no data: empty fields.
        QVERIFY(rows[1].endsWith(",,"));
        const int at1k = int(std::find_if(rows.begin() + 1, rows.end(),
                                          [](const QString& r) { return r.split(',')[0].toDouble() >= 1000; }) -
                             rows.begin());
        const QStringList fields = rows[at1k].split(',');
        QCOMPARE(fields[9], QString("0.00"));
        QVERIFY(std::abs(fields[10].toDouble() - fields[8].toDouble()) < 0.011);
        QVERIFY(!Read(csv).contains("-0.00"));

        // A name without an extension gets the chosen format's.
        QVERIFY(h.Form().ExportChart(dir.filePath("plain"), F::Pdf));
        QVERIFY(Read(dir.filePath("plain.pdf")).startsWith("%PDF"));
        QVERIFY(h.Form().ExportChart(dir.filePath("plain"), F::Csv));
        QVERIFY(Read(dir.filePath("plain.csv")).startsWith("Frequency (Hz)"));
        QVERIFY(h.Form().ExportChart(dir.filePath("plain"), F::Png));
        QVERIFY(!QImage(dir.filePath("plain.png")).isNull());
        QVERIFY(h.Form().ExportFilters(dir.filePath("plain")));
        QVERIFY(Read(dir.filePath("plain.txt")).startsWith("# KTV Tune:"));

        QVERIFY(!h.Form().ExportChart(dir.filePath("no/such/dir/chart.csv"), F::Csv));
        QCOMPARE(h.ui.rec.messages.size(), std::size_t(1));
    }
};

QTEST_MAIN(InteropTest)
#include "InteropTest.moc"
