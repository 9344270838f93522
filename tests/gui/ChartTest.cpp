// The frequency-response chart: its grid, the curves it is handed, the bell
// plateau, and dragging band points with both buttons.

#include "support/GuiHarness.h"

#include "dsp/StepTables.h"

#include <qcustomplot.h>

#include <QTest>

#include <cmath>

using namespace ktv;
using namespace ktv::test;

class ChartTest : public QObject {
    Q_OBJECT
    GuiHarness h;

    TFormPEQA& E() { return h.Editor(); }
    QCustomPlot* Chart() { return E().ChartFR(); }
    PeqBand& Band(int k) { return DspParams.Band[std::size_t(k)]; }
    void Press(QPoint p, Qt::MouseButton b) { SendMouse(Chart(), QEvent::MouseButtonPress, p, b, b); }
    void Move(QPoint p, Qt::MouseButtons held) { SendMouse(Chart(), QEvent::MouseMove, p, Qt::NoButton, held); }
    void Release(QPoint p, Qt::MouseButton b) { SendMouse(Chart(), QEvent::MouseButtonRelease, p, b, Qt::NoButton); }
    int PixelOfGain(double tenths) { return qRound(Chart()->yAxis->coordToPixel(tenths)); }

private slots:
    void init() { h.Start(); }
    void cleanup() { h.Stop(); }

    void gridAndAxesAreSetUp()
    {
        const int n = E().GridCount();
        QVERIFY(n > 300 && n <= 1000);
        const auto freq = E().Grid().Freq10();
        QCOMPARE(freq[0], 190);
        QVERIFY(freq[std::size_t(n - 1)] < 210000);
        QVERIFY2(freq[std::size_t(n - 1)] > 200000, qPrintable(QString("n=%1 last=%2").arg(n).arg(freq[std::size_t(n - 1)])));
        // The mouse maps onto the columns: each pixel lands in the column
        // whose frequency range holds the pixel's frequency.
        QCOMPARE(E().ColumnAt(E().GridX0()), 0);
        QCOMPARE(E().ColumnAt(E().GridX0() - 30), 0);
        QCOMPARE(E().ColumnAt(Chart()->width() + 50), n - 1);
        for (int x = E().GridX0(); x < E().GridX0() + 900; x += 7) {
            const int c = E().ColumnAt(x);
            const double f10 = Chart()->xAxis->pixelToCoord(x);
            QVERIFY(freq[std::size_t(c)] <= f10 + 1);
            if (c + 1 < n)
                QVERIFY(f10 < freq[std::size_t(c + 1)] + 1);
        }
        for (int i = 1; i < n; ++i)
            QVERIFY(freq[std::size_t(i)] >= freq[std::size_t(i - 1)]);
        for (int i = 0; i < n; ++i)
            QCOMPARE(E().Grid().FcPos()[std::size_t(i)], FcStepIndex(float(freq[std::size_t(i)]) / 10.0f));
        // 19 Hz and 21 kHz sit ten pixels inside the plot.
        const QRect plot = Chart()->axisRect()->rect();
        QCOMPARE(E().GridX0(), plot.left() + 10);
        QCOMPARE(qRound(Chart()->xAxis->coordToPixel(210000)), plot.right() + 1 - 10);

        QCOMPARE(Chart()->xAxis->scaleType(), QCPAxis::stLogarithmic);
        QCOMPARE(Chart()->yAxis->range().lower, -400.0);
        QCOMPARE(Chart()->yAxis->range().upper, 200.0);
        QCOMPARE(Chart()->xAxis->label(), QString("Frequency/Hz"));
        QCOMPARE(Chart()->yAxis->label(), QString("Gain/db"));
        QCOMPARE(Chart()->graphCount(), ChartSeriesCount);
        for (int i = 0; i < 14; ++i) {
            QCOMPARE(E().Series(i)->name(), QString("PEQ%1").arg(i + 1));
            QVERIFY(!E().Series(i)->visible());
        }
        QCOMPARE(E().Series(SeriesSum)->name(), QString("PEQAL"));
        QCOMPARE(E().Series(SeriesSum)->dataCount(), n);
        QCOMPARE(E().Series(SeriesPoints)->name(), QString("PEQAP"));
        QCOMPARE(E().Series(SeriesPoints)->dataCount(), 7);

        // Labelled lines and their texts.
        QVector<double> ticks;
        QVector<QString> labels;
        Chart()->xAxis->ticker()->generate(Chart()->xAxis->range(), QLocale::c(), 'g', 6, ticks, nullptr, &labels);
        QCOMPARE(labels, (QVector<QString>{"20", "50", "100", "200", "500", "1000", "2000", "5000", "10000", "20000"}));
        Chart()->yAxis->ticker()->generate(Chart()->yAxis->range(), QLocale::c(), 'g', 6, ticks, nullptr, &labels);
        QCOMPARE(labels.front(), QString("-40"));
        QCOMPARE(labels.back(), QString("20"));
        QCOMPARE(labels.size(), 13);
    }

    void bellPlateauReachesExactlyItsGain()
    {
        for (int k = 0; k < 7; ++k)
            Band(k).Flags &= std::uint8_t(~FlagBandOn);
        Band(0) = {};
        Band(0).Flags = 0xC2;
        Band(0).Fc = 1000.0f;
        Band(0).Q = 1.0f;
        Band(0).Gain = 6.0f;
        E().RefreshBands();
        h.ClearTraffic();
        const auto freq = E().Grid().Freq10();
        int inside = 0;
        for (int i = 0; i < E().GridCount(); ++i) {
            const float f = float(freq[std::size_t(i)]) / 10.0f;
            const double v = E().SumCurve()[std::size_t(i)];
            if (f >= 1000.0f && f < 1020.0f) {
                QCOMPARE(v, 60.0);
                ++inside;
            } else {
                QVERIFY2(v < 60.0, qPrintable(QString("column %1 (%2 Hz): %3").arg(i).arg(f).arg(v)));
            }
        }
        QVERIFY(inside >= 1);
        // The sum goes to the area series, one point per column.
        QCOMPARE(E().Series(SeriesSum)->data()->at(10)->value, E().SumCurve()[10]);
        QCOMPARE(E().Series(0)->data()->at(10)->value, E().BandCurve(1)[10]);
    }

    void leftDragMovesFcAndGainAndSendsOnceOnRelease()
    {
        const QPoint start = E().PointPixel(3);
        Press(start, Qt::LeftButton);
        QVERIFY(E().Dragging());
        QCOMPARE(E().DragRow(), 3);
        QCOMPARE(Chart()->cursor().shape(), Qt::SizeAllCursor);

        const QPoint to(start.x() + 60, PixelOfGain(45));
        Move(QPoint(start.x() + 20, start.y() - 10), Qt::LeftButton);
        Move(to, Qt::LeftButton);
        QVERIFY(h.TakeRequests().empty());
        const int column = E().ColumnAt(to.x());
        const int p = E().Grid().FcPos()[std::size_t(column)];
        QCOMPARE(Band(2).Fc, FcSteps[std::size_t(p)]);
        QCOMPARE(E().FcStepPos[3], p);
        const double g = std::round(Chart()->yAxis->pixelToCoord(to.y()));
        QCOMPARE(Band(2).Gain, float(g / 10.0));
        QCOMPARE(h.Find<QLineEdit>("FcEdit3")->text(), FormatBandValue(Band(2).Fc, 5));

        Release(to, Qt::LeftButton);
        QVERIFY(!E().Dragging());
        QCOMPARE(Chart()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(2)});
    }

    void dragOutsideThePlotHoldsTheEnds()
    {
        const QPoint start = E().PointPixel(4);
        Press(start, Qt::LeftButton);
        Move(QPoint(-80, -500), Qt::LeftButton);
        QCOMPARE(Band(3).Fc, 19.7f);
        QCOMPARE(Band(3).Gain, 12.0f);
        Move(QPoint(Chart()->width() + 200, Chart()->height() + 500), Qt::LeftButton);
        const int last = E().Grid().FcPos()[std::size_t(E().GridCount() - 1)];
        QCOMPARE(Band(3).Fc, FcSteps[std::size_t(last)]);
        QCOMPARE(Band(3).Gain, -24.0f);
        QVERIFY(h.TakeRequests().empty());
        Release(QPoint(Chart()->width() + 200, 0), Qt::LeftButton);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(3)});
    }

    void rightDragStepsQOneEntryPerEvent()
    {
        const QPoint start = E().PointPixel(2);
        const int p0 = QStepIndex(Band(1).Q);
        Press(start, Qt::RightButton);
        QCOMPARE(Chart()->cursor().shape(), Qt::SizeHorCursor);
        Move(start + QPoint(1, 0), Qt::RightButton);
        Move(start + QPoint(40, 30), Qt::RightButton);
        Move(start + QPoint(41, 0), Qt::RightButton);
        QCOMPARE(Band(1).Q, QSteps[std::size_t(p0 + 3)]);
        Move(start + QPoint(41, 9), Qt::RightButton); // same X: no step
        QCOMPARE(Band(1).Q, QSteps[std::size_t(p0 + 3)]);
        Move(start + QPoint(-100, 0), Qt::RightButton);
        QCOMPARE(Band(1).Q, QSteps[std::size_t(p0 + 2)]);
        QCOMPARE(E().QStepPos[2], p0 + 2);
        // Fc and gain stay.
        QCOMPARE(Band(1).Fc, 125.0f);
        QCOMPARE(Band(1).Gain, 0.0f);
        QVERIFY(h.TakeRequests().empty());
        Release(start, Qt::RightButton);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(1)});
    }

    void pressAndReleaseWithoutMovingSendsTheBandOnce()
    {
        const PeqBand before = Band(4);
        const QPoint p = E().PointPixel(5) + QPoint(2, -2);
        Press(p, Qt::LeftButton);
        Release(p, Qt::LeftButton);
        QCOMPARE(Band(4).Fc, before.Fc);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(4)});
    }

    void pressAwayFromEveryPointSendsNothing()
    {
        const QPoint p = E().PointPixel(5) + QPoint(3, 0);
        Press(p, Qt::LeftButton);
        QVERIFY(!E().Dragging());
        Move(p + QPoint(50, 50), Qt::LeftButton);
        Release(p + QPoint(50, 50), Qt::LeftButton);
        QCOMPARE(Band(4).Fc, 2000.0f);
        QVERIFY(h.TakeRequests().empty());
    }

    void overlappingPointsGoToTheLowerRow()
    {
        Band(5).Fc = 2000.0f; // row 6 onto row 5
        E().RefreshBands();
        Press(E().PointPixel(5), Qt::LeftButton);
        QCOMPARE(E().DragRow(), 5);
        Release(E().PointPixel(5), Qt::LeftButton);
    }

    void hoverShowsTheMoveCursorNearAPoint()
    {
        const QPoint p = E().PointPixel(1);
        Move(p + QPoint(-2, 2), Qt::NoButton);
        QCOMPARE(Chart()->cursor().shape(), Qt::SizeAllCursor);
        Move(p + QPoint(-3, 0), Qt::NoButton);
        QCOMPARE(Chart()->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(h.TakeRequests().empty());
    }

    void dragFollowsTheShownGroup()
    {
        h.SelectTab(5); // SUB: bands 24..28
        h.ClearTraffic();
        const QPoint start = E().PointPixel(1);
        Press(start, Qt::LeftButton);
        Move(start + QPoint(30, -30), Qt::LeftButton);
        Release(start + QPoint(30, -30), Qt::LeftButton);
        QVERIFY(Band(24).Gain > 0.0f);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(24)});
        QCOMPARE(E().Series(SeriesPoints)->dataCount(), 5);
    }
};

QTEST_MAIN(ChartTest)
#include "ChartTest.moc"
