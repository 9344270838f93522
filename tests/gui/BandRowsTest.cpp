// The band rows of the editor: every reaction with its request, the typed
// values, the key filters, Reset, the channel bypass and the bypass boxes
// that change during a refresh.

#include "support/GuiHarness.h"

#include "app/Theme.h"
#include "dsp/StepTables.h"
#include "editor/BandRows.h"
#include "params/Commands.h"

#include <qcustomplot.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QScopeGuard>
#include <QStyle>
#include <QTest>

using namespace ktv;
using namespace ktv::test;

namespace {
QString Name(const char* stem, int r) { return QString("%1%2").arg(stem).arg(r); }
} // namespace

class BandRowsTest : public QObject {
    Q_OBJECT
    GuiHarness h;

    QLineEdit* Edit(const char* stem, int r) { return h.Find<QLineEdit>(qPrintable(Name(stem, r))); }
    TypeSelector* Type(int r) { return h.Find<TypeSelector>(qPrintable(Name("FTypeSel", r))); }
    QCheckBox* FEn(int r) { return h.Find<QCheckBox>(qPrintable(Name("FEn", r))); }
    // which: 0 Fc, 1 gain, 2 Q.
    QScrollBar* Arrows(int r, int which)
    {
        static const char* first[] = {"FcUpDown1", "FGainUpDown1", "FQUpDown1"};
        const QString name = r == 1 ? QString(first[which]) : Name("ScrollBar", 3 * (r - 2) + which + 1);
        return h.Find<QScrollBar>(qPrintable(name));
    }
    // The upper arrow of a vertical bar subtracts.
    void Up(int r, int which) { Arrows(r, which)->triggerAction(QAbstractSlider::SliderSingleStepSub); }
    void Down(int r, int which) { Arrows(r, which)->triggerAction(QAbstractSlider::SliderSingleStepAdd); }
    // The user's text in the edit (typed or pasted), then the focus leaves it.
    void Type(QLineEdit* edit, const QString& text)
    {
        edit->setText(text);
        edit->setModified(true);
        LeaveFocus(edit);
    }
    // Keys typed into the focused edit over its whole text.
    void Retype(QLineEdit* edit, const QString& keys)
    {
        edit->setFocus(Qt::MouseFocusReason);
        edit->selectAll();
        QTest::keyClicks(edit, keys);
    }
    QAction* Action(const char* name) { return h.Form().findChild<QAction*>(name); }
    PeqBand& Band(int k) { return DspParams.Band[std::size_t(k)]; }
    void ExpectOneBandSent(int k) { QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(k)}); }

private slots:
    void init() { h.Start(); }
    void cleanup() { h.Stop(); }

    void rowsStartWithTheDefaultBands()
    {
        static const char* fc[] = {"50.0", "125.0", "500.0", "1000.0", "2000.0", "5000.0", "10000.0"};
        for (int r = 1; r <= 7; ++r) {
            QCOMPARE(Type(r)->currentText(), QString("Bell"));
            QCOMPARE(Type(r)->count(), 7);
            QCOMPARE(Edit("FcEdit", r)->text(), QString(fc[r - 1]));
            QCOMPARE(Edit("FGainEdit", r)->text(), QString("0.0"));
            QCOMPARE(Edit("FQEdit", r)->text(), QString("0.7"));
            QCOMPARE(FEn(r)->text(), QString("Bypass"));
            QVERIFY(!FEn(r)->isChecked());
            QVERIFY(Arrows(r, 0) && Arrows(r, 1) && Arrows(r, 2));
        }
        QCOMPARE(h.Find<QPushButton>("BitBtnReset")->text(), QString("Reset"));
        QCOMPARE(h.Find<QCheckBox>("FEnALL")->text(), QString("Bypass"));
        QVERIFY(!h.Find<QCheckBox>("FEnALL")->isChecked());
        auto* label = h.Find<QLabel>("LabelBypass");
        QCOMPARE(label->text(), QString("EQ Bypass"));
        QVERIFY(label->isHidden());
        for (int r = 8; r <= 14; ++r)
            QVERIFY(h.Find<QWidget>(qPrintable(Name("GroupBox", r)))->isHidden());
    }

    void eachReactionChangesItsFieldAndSendsTheBand()
    {
        // Type list closed on "Low Pass": bits 0..3 take the index, 4..7 stay.
        Type(1)->setEditText("Low Pass");
        Type(1)->showPopup();
        Type(1)->hidePopup();
        QCoreApplication::processEvents();
        QCOMPARE(int(Band(0).Flags), 0xC0);
        ExpectOneBandSent(0);

        // Bypass box of row 2: bit 7 cleared.
        FEn(2)->click();
        QCOMPARE(int(Band(1).Flags), 0x42);
        ExpectOneBandSent(1);
        FEn(2)->click();
        QCOMPARE(int(Band(1).Flags), 0xC2);
        ExpectOneBandSent(1);

        // Fc arrows of row 3 (500 Hz).
        const int p = FcStepIndex(500.0f);
        Up(3, 0);
        QCOMPARE(Band(2).Fc, FcSteps[std::size_t(p + 1)]);
        ExpectOneBandSent(2);
        Down(3, 0);
        Down(3, 0);
        QCOMPARE(Band(2).Fc, FcSteps[std::size_t(p - 1)]);
        QCOMPARE(h.TakeRequests().size(), std::size_t(2));

        // Gain arrows of row 4.
        Up(4, 1);
        QCOMPARE(Band(3).Gain, float(0.0 + 0.1));
        QCOMPARE(Edit("FGainEdit", 4)->text(), QString("0.1"));
        ExpectOneBandSent(3);
        Down(4, 1);
        Down(4, 1);
        QCOMPARE(Edit("FGainEdit", 4)->text(), QString("-0.1"));
        QCOMPARE(h.TakeRequests().size(), std::size_t(2));

        // Q arrows of row 7.
        const int q = QStepIndex(Band(6).Q);
        Up(7, 2);
        QCOMPARE(Band(6).Q, QSteps[std::size_t(q + 1)]);
        ExpectOneBandSent(6);

        // Thumb moves and page clicks do nothing at all.
        for (auto action : {QAbstractSlider::SliderPageStepAdd, QAbstractSlider::SliderPageStepSub,
                            QAbstractSlider::SliderToMinimum, QAbstractSlider::SliderMove})
            for (int which = 0; which < 3; ++which)
                Arrows(5, which)->triggerAction(action);
        QVERIFY(h.TakeRequests().empty());
        QCOMPARE(Band(4).Fc, 2000.0f);
    }

    void typedFrequencies_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<float>("fc");
        QTest::addColumn<QString>("shown");
        QTest::newRow("below table") << "5" << 19.7f << "19.7";
        QTest::newRow("above table") << "30000" << 20200.0f << "20200.0";
        QTest::newRow("between") << "1019" << 1000.0f << "1000.0";
        QTest::newRow("entry") << "1020" << 1020.0f << "1020.0";
        QTest::newRow("10000") << "10000" << 9990.0f << "9990.0";
    }
    void typedFrequencies()
    {
        QFETCH(QString, typed);
        QFETCH(float, fc);
        QFETCH(QString, shown);
        Type(Edit("FcEdit", 2), typed);
        QCOMPARE(Band(1).Fc, fc);
        QCOMPARE(Edit("FcEdit", 2)->text(), shown);
        QCOMPARE(h.Editor().FcStepPos[2], FcStepIndex(fc));
        ExpectOneBandSent(1);
    }

    void typedQ_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<float>("q");
        QTest::newRow("below table") << "0.1" << 0.4f;
        QTest::newRow("above table") << "200" << 124.0f;
        QTest::newRow("124 searches to 118") << "124" << 118.0f;
        QTest::newRow("123") << "123" << 118.0f;
    }
    void typedQ()
    {
        QFETCH(QString, typed);
        QFETCH(float, q);
        Type(Edit("FQEdit", 5), typed);
        QCOMPARE(Band(4).Q, q);
        ExpectOneBandSent(4);
    }

    void typedGain_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<float>("gain");
        QTest::addColumn<QString>("shown");
        QTest::newRow("below") << "-30" << -24.0f << "-24.0";
        QTest::newRow("above") << "15" << 12.0f << "12.0";
        QTest::newRow("kept as typed") << "3.14159" << 3.14159f << "3.1";
        QTest::newRow("half up") << "-3.45" << -3.45f << "-3.5";
    }
    void typedGain()
    {
        QFETCH(QString, typed);
        QFETCH(float, gain);
        QFETCH(QString, shown);
        Type(Edit("FGainEdit", 1), typed);
        QCOMPARE(Band(0).Gain, gain);
        QCOMPARE(Edit("FGainEdit", 1)->text(), shown);
        ExpectOneBandSent(0);
    }

    void textThatIsNotANumberChangesNothing_data()
    {
        QTest::addColumn<QString>("stem");
        QTest::addColumn<QString>("text");
        for (const char* stem : {"FcEdit", "FGainEdit", "FQEdit"})
            for (const char* text : {"", "-", ".", "1e999"})
                QTest::newRow(qPrintable(QString("%1 '%2'").arg(stem, text))) << QString(stem) << QString(text);
    }
    void textThatIsNotANumberChangesNothing()
    {
        QFETCH(QString, stem);
        QFETCH(QString, text);
        const PeqBand before = Band(2);
        Type(Edit(qPrintable(stem), 3), text);
        QCOMPARE(h.ui.rec.messages.size(), std::size_t(1));
        QCOMPARE(Edit(qPrintable(stem), 3)->text(), text);
        QCOMPARE(Band(2).Fc, before.Fc);
        QCOMPARE(Band(2).Gain, before.Gain);
        QCOMPARE(Band(2).Q, before.Q);
        QVERIFY(h.TakeRequests().empty());
    }

    void keyFiltersDropWhatIsNotPartOfANumber()
    {
        QLineEdit* fc = Edit("FcEdit", 1);
        fc->clear();
        QTest::keyClicks(fc, "1a2.3.4x-");
        QCOMPARE(fc->text(), QString("12.34"));

        QLineEdit* gain = Edit("FGainEdit", 1);
        gain->setText("3.5");
        gain->end(false);
        QTest::keyClicks(gain, "-");
        QCOMPARE(gain->text(), QString("-"));
        QTest::keyClicks(gain, "6.5");
        QCOMPARE(gain->text(), QString("-6.5"));

        QLineEdit* q = Edit("FQEdit", 1);
        q->setText("2.");
        q->end(false);
        QTest::keyClicks(q, ".-5");
        QCOMPARE(q->text(), QString("2.5"));
        QVERIFY(h.TakeRequests().empty());
    }

    void enterAppliesOnceAndLeavingAfterItSendsNothing()
    {
        h.Form().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.Form()));
        QLineEdit* fc = Edit("FcEdit", 4);
        Retype(fc, "1020");
        QTest::keyClick(fc, Qt::Key_Return);
        QCOMPARE(Band(3).Fc, 1020.0f);
        ExpectOneBandSent(3);
        Edit("FQEdit", 4)->setFocus(Qt::TabFocusReason);
        QVERIFY(h.TakeRequests().empty());
        // Enter again on the value as shown: nothing typed, nothing sent.
        fc->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(fc, Qt::Key_Return);
        QVERIFY(h.TakeRequests().empty());

        // Enter on an empty edit does nothing.
        Retype(fc, "");
        fc->clear();
        QTest::keyClick(fc, Qt::Key_Return);
        QVERIFY(h.TakeRequests().empty());
        QVERIFY(h.ui.rec.messages.empty());
    }

    // The default bands 50, 2000, 5000 and 10000 Hz are not Fc steps, and a
    // gain of 3.14159 shows as 3.1: a field the user only passes through
    // must not snap or round the band and send it.
    void leavingAFieldWithoutTypingSendsNothing()
    {
        Band(1).Gain = 3.14159f;
        Band(2).Q = 0.42f; // shown as 0.4
        h.Editor().RefreshBands();
        h.Form().Changes().StartBoxHistory();
        h.ClearTraffic();
        const std::vector<PeqBand> before(DspParams.Band.begin(), DspParams.Band.begin() + 7);
        h.Form().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.Form()));
        for (int r = 1; r <= 7; ++r)
            for (const char* stem : {"FcEdit", "FGainEdit", "FQEdit"}) {
                QLineEdit* edit = Edit(stem, r);
                const QString shown = edit->text();
                // Clicked into, then left for the next field, or by a click elsewhere.
                QTest::mouseClick(edit, Qt::LeftButton);
                QVERIFY(edit->hasFocus());
                h.Find<QPushButton>("BitBtnReset")->setFocus(Qt::MouseFocusReason);
                LeaveFocus(edit);
                QCOMPARE(edit->text(), shown);
            }
        for (int k = 0; k < 7; ++k) {
            QCOMPARE(Band(k).Fc, before[std::size_t(k)].Fc);
            QCOMPARE(Band(k).Gain, before[std::size_t(k)].Gain);
            QCOMPARE(Band(k).Q, before[std::size_t(k)].Q);
        }
        QVERIFY(h.TakeRequests().empty());
        QCoreApplication::processEvents();
        QCOMPARE(h.Form().History().UndoCount(), std::size_t(0));
        QVERIFY(!Action("Undo1")->isEnabled());
    }

    // Ctrl+Z and Ctrl+Shift+Z (Ctrl+Y) in a band field are the window's
    // Undo and Redo, right after Enter; typing not yet applied is dropped.
    void undoKeysInABandFieldUndoTheWindowsSteps()
    {
        Hid().Linked = true;
        h.Form().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.Form()));
        QLineEdit* gain = Edit("FGainEdit", 3);
        Retype(gain, "6");
        QTest::keyClick(gain, Qt::Key_Return);
        QCOMPARE(Band(2).Gain, 6.0f);
        const Bytes six = PeqBandsPayload(2);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{six});

        QTest::keyClick(gain, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Band(2).Gain, 0.0f);
        QCOMPARE(gain->text(), QString("0.0"));
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(2)});
        QCOMPARE(h.Form().History().UndoCount(), std::size_t(0));
        QCOMPARE(Action("Redo1")->text(), QString("Redo Gain of MIC band 3"));

        QTest::keyClick(gain, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(Band(2).Gain, 6.0f);
        QCOMPARE(gain->text(), QString("6.0"));
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{six});

        // Typed, not applied: Ctrl+Z undoes the last step, and the field
        // shows the band again.
        Retype(gain, "9");
        QTest::keyClick(gain, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Band(2).Gain, 0.0f);
        QCOMPARE(gain->text(), QString("0.0"));
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(2)});
        QTest::keyClick(gain, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(Band(2).Gain, 6.0f);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{six});
        Edit("FQEdit", 3)->setFocus(Qt::TabFocusReason);
        QVERIFY(h.TakeRequests().empty());
        QCOMPARE(h.Form().History().UndoCount(), std::size_t(1));
        Hid().Linked = false;
    }

    void arrowsAtTheirEndsStillSend()
    {
        Type(Edit("FGainEdit", 1), "12");
        Type(Edit("FcEdit", 1), "20200");
        h.ClearTraffic();
        Up(1, 1);
        QCOMPARE(Band(0).Gain, 12.0f);
        ExpectOneBandSent(0);
        Up(1, 0);
        QCOMPARE(Band(0).Fc, 20200.0f);
        ExpectOneBandSent(0);
        Type(Edit("FGainEdit", 1), "-24");
        h.ClearTraffic();
        Down(1, 1);
        QCOMPARE(Band(0).Gain, -24.0f);
        ExpectOneBandSent(0);
    }

    void gainStepsAccumulateFloatRounding()
    {
        for (int i = 0; i < 10; ++i)
            Up(2, 1);
        float expected = 0;
        for (int i = 0; i < 10; ++i)
            expected = float(double(expected) + 0.1);
        QCOMPARE(Band(1).Gain, expected);
        QVERIFY(Band(1).Gain != 1.0f);
        QCOMPARE(Edit("FGainEdit", 2)->text(), QString("1.0"));
    }

    void stepStartsFromTheBandsOwnValue()
    {
        // Row 7 after a Reset holds 10000 Hz, not a table entry: the step
        // starts from 9990, the entry at or below.
        h.Find<QPushButton>("BitBtnReset")->click();
        QCOMPARE(Band(6).Fc, 10000.0f);
        Up(7, 0);
        QCOMPARE(Band(6).Fc, 10200.0f);
        h.Find<QPushButton>("BitBtnReset")->click();
        Down(7, 0);
        QCOMPARE(Band(6).Fc, 9800.0f);

        // After MIC -> MUSIC the first arrow steps from the MUSIC band.
        Up(1, 0); // MIC row 1 remembers its position
        Band(7).Fc = 2000.0f;
        h.SelectTab(1);
        h.ClearTraffic();
        Up(1, 0);
        QCOMPARE(Band(7).Fc, FcSteps[std::size_t(FcStepIndex(2000.0f) + 1)]);
        ExpectOneBandSent(7);
    }

    void resetOfAFiveBandGroupSendsFiveBands()
    {
        h.SelectTab(3); // MAIN: bands 14..18
        for (int k = 14; k < 19; ++k) {
            Band(k).Fc = 3000.0f;
            Band(k).Gain = -6.0f;
            Band(k).Q = 4.0f;
            Band(k).Flags = 0x84;
        }
        h.ClearTraffic();
        h.Find<QPushButton>("BitBtnReset")->click();
        const float fc[] = {50, 125, 500, 1000, 2000};
        std::vector<Bytes> expected;
        for (int i = 0; i < 5; ++i) {
            const PeqBand& b = Band(14 + i);
            QCOMPARE(b.Fc, fc[i]);
            QCOMPARE(int(b.Flags), 0xC2);
            QCOMPARE(b.Gain, 0.0f);
            QCOMPARE(b.Q, 0.7f);
            expected.push_back(PeqBandsPayload(14 + i));
        }
        QCOMPARE(h.TakeRequests(), expected);
        QCOMPARE(Band(19).Fc, DspParams.Band[19].Fc); // SRS untouched
        QCOMPARE(Edit("FcEdit", 5)->text(), QString("2000.0"));
    }

    void channelBypassFlattensTheChartAndSendsOneRequest()
    {
        Type(Edit("FGainEdit", 3), "6");
        h.ClearTraffic();
        auto* all = h.Find<QCheckBox>("FEnALL");
        all->click();
        for (int k = 0; k < 7; ++k)
            QCOMPARE(Band(k).Flags & FlagChannelEqOn, 0);
        QVERIFY(h.Find<QLabel>("LabelBypass")->isVisible());
        for (int i = 0; i < h.Editor().GridCount(); ++i)
            QCOMPARE(h.Editor().SumCurve()[std::size_t(i)], 0.0);
        // The points stay where the bands are.
        QCOMPARE(h.Editor().Series(SeriesPoints)->data()->at(2)->value, 60.0);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{EqBypassPayload(0, 7)});

        all->click();
        QVERIFY(h.Find<QLabel>("LabelBypass")->isHidden());
        QCOMPARE(int(Band(0).Flags), 0xC2);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{EqBypassPayload(0, 7)});
    }

    void mouseUpOnChannelBypassWritesTheDevicePanel()
    {
        QTest::mouseClick(h.Find<QCheckBox>("FEnALL"), Qt::LeftButton);
        QCOMPARE(h.Form().StatusText(2), QString("1"));
    }

    void bypassBoxesThatChangeDuringARefreshResendTheirBand()
    {
        // MUSIC rows 2 and 5 hold bands that are off: loading them ticks
        // their boxes and each runs its own reaction with its request. Row
        // 2's reaction refreshes first, and that refresh ticks row 5 whose
        // reaction completes, request included, before row 2 sends.
        Band(8).Flags &= std::uint8_t(~FlagBandOn);
        Band(11).Flags &= std::uint8_t(~FlagBandOn);
        h.SelectTab(1);
        auto requests = h.TakeRequests();
        QVERIFY(requests.size() >= 2);
        QCOMPARE(requests[0], PeqBandsPayload(11));
        QCOMPARE(requests[1], PeqBandsPayload(8));
        QVERIFY(FEn(2)->isChecked());
        QVERIFY(FEn(5)->isChecked());
        QVERIFY(!FEn(3)->isChecked());

        // Back to MIC: the boxes untick and the MIC bands are sent again
        // (their bit 7 is set already, so the bytes are unchanged).
        h.SelectTab(0);
        requests = h.TakeRequests();
        QVERIFY(requests.size() >= 2);
        QCOMPARE(requests[0], PeqBandsPayload(4));
        QCOMPARE(requests[1], PeqBandsPayload(1));
    }

    void channelBypassFollowsTheFirstBandOnLoad()
    {
        // The first MUSIC band has its equaliser off: loading ticks FEnALL and
        // the whole group follows, sent in one EqBypass.
        Band(7).Flags &= std::uint8_t(~FlagChannelEqOn);
        h.SelectTab(1);
        for (int k = 7; k < 14; ++k)
            QCOMPARE(Band(k).Flags & FlagChannelEqOn, 0);
        QVERIFY(h.Find<QCheckBox>("FEnALL")->isChecked());
        QVERIFY(h.Find<QLabel>("LabelBypass")->isVisible());
        auto requests = h.TakeRequests();
        QVERIFY(!requests.empty());
        QCOMPARE(requests[0], EqBypassPayload(7, 7));
    }

    void typeListTakesWhatWasPickedWhenItCloses()
    {
        TypeSelector* t = Type(1);
        QAbstractItemView* list = t->view();

        // Picked with the keyboard.
        t->showPopup();
        list->setCurrentIndex(list->model()->index(0, 0));
        QTest::keyClick(list, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(t->currentText(), QString("Low Pass"));
        QCOMPARE(int(Band(0).Flags), 0xC0);
        ExpectOneBandSent(0);

        // Picked with the mouse (the list ignores a release right after it
        // opened, as a click that only opened it).
        t->showPopup();
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const QRect item = list->visualRect(list->model()->index(4, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
        QCoreApplication::processEvents();
        QCOMPARE(t->currentText(), QString("High Shelf"));
        QCOMPARE(int(Band(0).Flags), 0xC4);
        ExpectOneBandSent(0);

        // Closed with Escape: the text is unchanged, still a type, and the
        // band goes out again as it is.
        t->showPopup();
        QTest::keyClick(list, Qt::Key_Escape);
        QCoreApplication::processEvents();
        QVERIFY(!list->isVisible());
        QCOMPARE(int(Band(0).Flags), 0xC4);
        ExpectOneBandSent(0);
    }

    void typingGoesOnIntoTheTextWhileTheListIsShown()
    {
        // The first typed character opens the list; the rest, Backspace
        // included, still edit the text, and the list marks the item the
        // text begins with. The text takes only what leads to a type's name
        // (in any case): other keys are refused. Closing applies a whole
        // name, Enter the marked item; anything else shows the band's type
        // again. Keys go where the keyboard sends them: to the shown list,
        // else to the focused selector.
        enum Close { Escape, Enter, ClickOutside };
        struct Case {
            const char* keys;   // '\b' is Backspace
            const char* typed;  // the text while the list is shown
            const char* closed; // the text once it has closed
            Close close;
            int flags;          // band 0 afterwards
            int sent;           // the flags of the band sent; -1: nothing sent
        };
        const Case cases[] = {
            {"Low Shelf", "Low Shelf", "Low Shelf", Escape, 0xC3, 0xC3},
            {"High Shelg\bf", "High She", "High Shelf", Enter, 0xC4, 0xC4},
            {"Lo Pass", "Lo", "High Shelf", ClickOutside, 0xC4, -1},
            {"low shelf", "low shelf", "Low Shelf", Escape, 0xC3, 0xC3},
            {"zzz", "Low Shelf", "Low Shelf", Escape, 0xC3, 0xC3},
            {"Notch", "Notch", "Notch", Escape, 0xC6, 0xC6},
            {"band", "band", "Band Pass", Enter, 0xC5, 0xC5},
            {"bandx", "band", "Band Pass", Escape, 0xC5, -1},
        };
        TypeSelector* t = Type(1);
        QAbstractItemView* list = t->view();
        h.Form().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.Form()));
        for (const Case& c : cases) {
            t->setFocus(Qt::MouseFocusReason);
            t->lineEdit()->selectAll();
            for (const char* k = c.keys; *k; ++k) {
                if (*k == '\b')
                    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Backspace);
                else
                    QTest::keyClick(static_cast<QWidget*>(nullptr), *k);
            }
            QVERIFY2(list->isVisible(), c.keys);
            QCOMPARE(t->currentText(), QString(c.typed));
            const int marked = t->findText(c.typed, Qt::MatchStartsWith);
            QCOMPARE(list->currentIndex().row(), marked);
            QVERIFY(h.TakeRequests().empty());
            if (c.close == Escape) {
                QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Escape);
            } else if (c.close == Enter) {
                QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Return);
            } else {
                // A press outside the shown list closes it.
                QWidget* popup = list->window();
                QWidget* fc = Edit("FcEdit", 3);
                QTest::mouseClick(popup, Qt::LeftButton, {}, popup->mapFromGlobal(fc->mapToGlobal(fc->rect().center())));
            }
            QCoreApplication::processEvents();
            QVERIFY2(!list->isVisible(), c.keys);
            QCOMPARE(t->currentText(), QString(c.closed));
            QCOMPARE(int(Band(0).Flags), c.flags);
            const auto requests = h.TakeRequests();
            if (c.sent < 0)
                QVERIFY2(requests.empty(), c.keys);
            else
                QCOMPARE(requests, (std::vector<Bytes>{{0x20, 0, 1, std::uint8_t(c.sent), 0xF4, 0x01, 0, 0, 7, 0, 0, 0}}));
        }
    }

    void arrowClickLeavesAnEditBeingTyped()
    {
        // The typed value is applied first and the arrow steps from it.
        h.Form().activateWindow();
        QLineEdit* fc = Edit("FcEdit", 2);
        Retype(fc, "1020");
        QVERIFY(fc->hasFocus());
        QScrollBar* arrows = Arrows(2, 0);
        QTest::mouseClick(arrows, Qt::LeftButton, {}, QPoint(arrows->width() / 2, 3));
        QCOMPARE(Band(1).Fc, FcSteps[std::size_t(FcStepIndex(1020.0f) + 1)]);
        auto requests = h.TakeRequests();
        QCOMPARE(requests.size(), std::size_t(2));
        QCOMPARE(requests[0], (Bytes{0x20, 1, 1, 0xC2, 0xD8, 0x27, 0, 0, 7, 0, 0, 0})); // 1020.0 Hz, Q 0.7
        QCOMPARE(requests[1], PeqBandsPayload(1));
        QCOMPARE(fc->text(), FormatBandValue(Band(1).Fc, 5));
    }

    // Every type name is shown whole in its field ("Low Pass", not "ow
    // Pass") in the window's own font and style, at its size and half as
    // large again; at its size the rows and the settings page beside them
    // fit a window of the size it starts with, without a scroll bar.
    void typeNamesFitTheirField_data()
    {
        QTest::addColumn<double>("scale");
        QTest::newRow("the window's font") << 1.0;
        QTest::newRow("half as large again") << 1.5;
    }
    void typeNamesFitTheirField()
    {
        QFETCH(double, scale);
        h.Stop();
        const QFont font = QApplication::font();
        const QPalette palette = QApplication::palette();
        const QString style = QApplication::style()->name();
        ApplyTheme(*qApp);
        QFont larger = QApplication::font();
        larger.setPixelSize(int(std::lround(larger.pixelSize() * scale)));
        QApplication::setFont(larger);
        h.Start();
        const auto restore = qScopeGuard([&] {
            h.Stop();
            QApplication::setFont(font);
            QApplication::setPalette(palette);
            QApplication::setStyle(style);
        });
        h.form->resize(1120, 650);
        QCoreApplication::processEvents();

        for (int r = 1; r <= 7; ++r) {
            QLineEdit* field = Type(r)->lineEdit();
            QVERIFY(field->isVisible());
            // Where the line edit draws: inside its margins and the two
            // pixels it keeps each side, with a pixel for the cursor.
            const QMargins margins = field->textMargins();
            const int room = field->contentsRect().width() - margins.left() - margins.right() - 2 * 2 - 1;
            const QString shown = field->text();
            field->clear();
            field->grab();
            const int start = field->inputMethodQuery(Qt::ImCursorRectangle).toRect().x(); // the start of a text not scrolled
            for (std::size_t code = 0; code < 7; ++code) {
                const QString name = FilterTypeText(code);
                const int needs = int(std::ceil(QFontMetricsF(field->font()).horizontalAdvance(name)));
                QVERIFY2(needs <= room,
                         qPrintable(QString("%1 needs %2 px, row %3 has %4").arg(name).arg(needs).arg(r).arg(room)));
                // As shown after a choice: the cursor at the end. A name
                // that did not fit would be scrolled to show its end.
                field->setText(name);
                field->grab();
                field->setCursorPosition(0);
                QVERIFY2(field->inputMethodQuery(Qt::ImCursorRectangle).toRect().x() == start, qPrintable(QString("%1 in row %2 is scrolled").arg(name).arg(r)));
            }
            field->setText(shown);
        }
        if (scale != 1.0)
            return; // a larger font widens the rows, and the window must grow
        // At the window's own font every channel's rows and settings page
        // fit the window it starts with.
        for (int tab = 0; tab < 8; ++tab) {
            h.SelectTab(tab);
            QCoreApplication::processEvents();
            QScrollArea* scroller = h.form->PageScroller(tab);
            QVERIFY2(!scroller->horizontalScrollBar()->isVisible(),
                     qPrintable(QString("tab %1: the page needs %2 px, the window has %3")
                                    .arg(tab)
                                    .arg(scroller->widget()->minimumSizeHint().width())
                                    .arg(scroller->viewport()->width())));
        }
    }

    void bandPassAndNotchAreNamedAndOffered()
    {
        // Band Pass and Notch come from boxes, presets and filter files, and
        // the list offers them with the other five.
        Band(9).Flags = 0xC5;
        Band(10).Flags = 0xC6;
        Band(11).Flags = 0xC7;
        h.SelectTab(1);
        QCOMPARE(Type(3)->currentText(), QString("Band Pass"));
        QCOMPARE(Type(4)->currentText(), QString("Notch"));
        QCOMPARE(Type(5)->currentText(), QString()); // no type of the box
        QCOMPARE(Type(3)->count(), 7);
        QCOMPARE(Type(3)->itemText(5), QString("Band Pass"));
        QCOMPARE(Type(3)->itemText(6), QString("Notch"));
        h.ClearTraffic();

        // Picked from the list: Notch in place of Band Pass, Band Pass in place of a bell.
        for (auto [row, item, band] : {std::tuple{3, 6, 9}, std::tuple{1, 5, 7}}) {
            QAbstractItemView* list = Type(row)->view();
            Type(row)->showPopup();
            list->setCurrentIndex(list->model()->index(item, 0));
            QTest::keyClick(list, Qt::Key_Return);
            QCoreApplication::processEvents();
            QCOMPARE(int(Band(band).Flags), 0xC0 | item);
            ExpectOneBandSent(band);
        }

        // Text that is no whole name is not left standing: the row shows the
        // band's type again, and nothing is sent.
        Type(3)->setEditText("Bel");
        Type(3)->showPopup();
        Type(3)->hidePopup();
        QCoreApplication::processEvents();
        QCOMPARE(Type(3)->currentText(), QString("Notch"));
        QCOMPARE(int(Band(9).Flags), 0xC6);
        Type(5)->showPopup();
        Type(5)->hidePopup();
        QCoreApplication::processEvents();
        QCOMPARE(int(Band(11).Flags), 0xC7);
        QCOMPARE(Type(5)->currentText(), QString());
        QVERIFY(h.TakeRequests().empty());
    }
};

QTEST_MAIN(BandRowsTest)
#include "BandRowsTest.moc"
