// The chart redraws and repaints only where its curves moved during a drag:
// what the window shows must still be exactly what a whole redraw shows.

#include "support/GuiHarness.h"

#include "editor/ChartPlot.h"

#include <QScreen>
#include <QTest>

using namespace ktv;
using namespace ktv::test;

class ChartRedrawTest : public QObject {
    Q_OBJECT
    GuiHarness h;

    ChartPlot* Chart() { return static_cast<ChartPlot*>(h.Editor().ChartFR()); }

    // The chart as the window's backing store holds it: what was repainted.
    QImage Shown()
    {
        QApplication::processEvents();
        const QPoint at = Chart()->mapTo(&h.Form(), QPoint(0, 0));
        return h.Form().screen()->grabWindow(h.Form().winId(), at.x(), at.y(), Chart()->width(), Chart()->height())
            .toImage();
    }

    QImage Redrawn()
    {
        Chart()->replot(QCustomPlot::rpImmediateRefresh);
        return Shown();
    }

private slots:
    void init() { h.Start(); }
    void cleanup() { h.Stop(); }

    void dragShowsWhatAWholeRedrawShows_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("button");
        QTest::addColumn<QList<QPoint>>("moves");
        // Across the 0 dB line (the fill changes sides), to the ends of the
        // plot, and Q steps that widen and narrow the whole curve.
        QTest::newRow("left, across zero") << 4 << int(Qt::LeftButton)
                                           << QList<QPoint>{{20, -40}, {35, 60}, {-50, 90}, {3, -1}};
        QTest::newRow("left, to the ends") << 1 << int(Qt::LeftButton)
                                           << QList<QPoint>{{-400, -300}, {2000, 800}, {40, -20}};
        QTest::newRow("right, Q steps") << 6 << int(Qt::RightButton)
                                        << QList<QPoint>{{5, 0}, {9, 0}, {-30, 0}, {-31, 0}, {-32, 0}};
    }

    void dragShowsWhatAWholeRedrawShows()
    {
        QFETCH(int, row);
        QFETCH(int, button);
        QFETCH(QList<QPoint>, moves);
        const auto b = Qt::MouseButton(button);
        QTest::qWait(20); // any layout still pending after the window appeared
        const QPoint start = h.Editor().PointPixel(row);
        SendMouse(Chart(), QEvent::MouseButtonPress, start, b, b);
        QVERIFY(h.Editor().Dragging());
        const double chartArea = double(Chart()->width()) * Chart()->height();
        for (const QPoint& d : moves) {
            SendMouse(Chart(), QEvent::MouseMove, start + d, Qt::NoButton, b);
            const QImage shown = Shown();
            double damaged = 0;
            for (const QRect& r : Chart()->LastDamage())
                damaged += double(r.width()) * r.height();
            QVERIFY(damaged > 0 && damaged < chartArea / 2); // the cheap path was taken
            QCOMPARE(shown, Redrawn());
        }
        // Let go: smooth again, and still only what changed is redrawn.
        SendMouse(Chart(), QEvent::MouseButtonRelease, start + moves.back(), b, Qt::NoButton);
        QVERIFY(h.Editor().Series(SeriesSum)->antialiased());
        QVERIFY(!Chart()->plottingHints().testFlag(QCP::phFastPolylines));
        const QImage released = Shown();
        QCOMPARE(released, Redrawn());
    }

    void editsOutsideADragRedrawOnlyTheirPart()
    {
        // A row edit moves one band: the repaint matches a whole redraw.
        DspParams.Band[2].Gain = -9.0f;
        h.Editor().RefreshBands();
        const QImage shown = Shown();
        QVERIFY(!Chart()->LastDamage().isEmpty());
        QCOMPARE(shown, Redrawn());
    }
};

QTEST_MAIN(ChartRedrawTest)
#include "ChartRedrawTest.moc"
