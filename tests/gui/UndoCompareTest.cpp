// Undo and redo, the A/B comparison, copying EQ between channels and the
// table of what differs, against the in-process box with exact bytes.

#include "support/GuiHarness.h"

#include "params/BoxLink.h"
#include "params/Commands.h"
#include "params/ImageDiff.h"
#include "presets/BoxJournal.h"
#include "presets/DapFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QStatusBar>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace ktv;
using namespace ktv::test;

namespace {

Bytes EchoPayload()
{
    Bytes p(1 + EchoWireSize);
    p[0] = std::uint8_t(DspCommand::Echo);
    EncodeEcho(DspParams.Echo, p.data() + 1);
    return p;
}

Bytes BandRunPayload(int first, int count)
{
    Bytes p{std::uint8_t(DspCommand::PeqBands), std::uint8_t(first), std::uint8_t(count)};
    for (int j = 0; j < count; ++j) {
        std::uint8_t record[BandRecordSize];
        EncodeBandRecord(DspParams.Band[std::size_t(first + j)], record);
        p.insert(p.end(), record, record + BandRecordSize);
    }
    return p;
}

// The nine reads that keep the box's state before a whole change, then `rest`.
std::vector<Bytes> KeptThen(std::vector<Bytes> rest)
{
    std::vector<Bytes> all{{0x81}, {0x82}};
    for (int first = 0; first < BandTotal; first += MaxBandsPerRequest)
        all.push_back({0xA0, std::uint8_t(first), std::uint8_t(std::min(MaxBandsPerRequest, BandTotal - first))});
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

// The nine requests a write-all of the current image sends.
std::vector<Bytes> WriteAllPayloads()
{
    Bytes system(SystemPayloadSize), effects(EffectsPayloadSize);
    BuildSystemPayload(system.data());
    BuildEffectsPayload(effects.data());
    std::vector<Bytes> all{system, effects};
    for (int first = 0; first < BandTotal; first += MaxBandsPerRequest)
        all.push_back(BandRunPayload(first, std::min(MaxBandsPerRequest, BandTotal - first)));
    return all;
}

} // namespace

class UndoCompareTest : public QObject {
    Q_OBJECT
    GuiHarness h;
    std::unique_ptr<QTemporaryDir> dir;

    QAction* Action(const char* name) { return h.Form().findChild<QAction*>(name); }
    // Lets the window gather the edits made so far into a step.
    void Settle() { QApplication::processEvents(); }
    void Link()
    {
        Hid().Linked = true;
        h.ClearTraffic();
    }
    void Undo() { Action("Undo1")->trigger(); }
    void Redo() { Action("Redo1")->trigger(); }
    QString Path(const char* name) { return QDir(dir->path()).filePath(name); }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        h.Start();
    }
    void cleanup()
    {
        h.Stop();
        dir.reset();
    }

    void undoAndRedoOfAChartDragSendTheBandBackAndForth()
    {
        QCOMPARE(Action("Undo1")->text(), QString("Undo"));
        QVERIFY(!Action("Undo1")->isEnabled());
        QVERIFY(!Action("Redo1")->isEnabled());
        QCOMPARE(Action("Undo1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(Action("Redo1")->shortcuts(),
                 (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)}));

        Link();
        const PeqBand before = DspParams.Band[2];
        QWidget* chart = reinterpret_cast<QWidget*>(h.Editor().ChartFR());
        const QPoint start = h.Editor().PointPixel(3);
        SendMouse(chart, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
        for (int i = 1; i <= 5; ++i) {
            SendMouse(chart, QEvent::MouseMove, start + QPoint(8 * i, -6 * i), Qt::NoButton, Qt::LeftButton);
            Settle();
        }
        SendMouse(chart, QEvent::MouseButtonRelease, start + QPoint(40, -30), Qt::LeftButton, Qt::NoButton);
        Settle();
        const PeqBand dragged = DspParams.Band[2];
        QVERIFY(dragged.Fc != before.Fc && dragged.Gain != before.Gain);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(2)});
        QCOMPARE(h.Form().History().UndoCount(), std::size_t(1)); // the whole drag is one step
        QCOMPARE(Action("Undo1")->text(), QString("Undo Fc and gain of MIC band 3"));
        QVERIFY(Action("Undo1")->isEnabled());

        Undo();
        QVERIFY(SameBand(DspParams.Band[2], before));
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(2)});
        QCOMPARE(h.Find<QLineEdit>("FGainEdit3")->text(), QString("0.0"));
        QCOMPARE(Action("Undo1")->text(), QString("Undo"));
        QVERIFY(!Action("Undo1")->isEnabled());
        QCOMPARE(Action("Redo1")->text(), QString("Redo Fc and gain of MIC band 3"));

        Redo();
        QVERIFY(SameBand(DspParams.Band[2], dragged));
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(2)});
        QCOMPARE(h.Find<QLineEdit>("FGainEdit3")->text(), FormatBandValue(dragged.Gain, 3));

        // Unlinked, undo changes the window only.
        Hid().Linked = false;
        Undo();
        QVERIFY(SameBand(DspParams.Band[2], before));
        QVERIFY(h.TakeRequests().empty());
    }

    void aSliderFromPressToReleaseIsOneStep()
    {
        h.SelectTab(2); // EFFECT
        Link();
        QSlider* delay = h.Find<QSlider>("TrackBarDelay");
        delay->setSliderDown(true);
        for (int v : {100, 150, 200}) {
            delay->setValue(v);
            Settle();
        }
        QCOMPARE(h.Form().History().UndoCount(), std::size_t(0)); // still held
        delay->setSliderDown(false);
        QCOMPARE(h.TakeRequests().size(), std::size_t(3));
        QCOMPARE(h.Form().History().UndoCount(), std::size_t(1));
        QCOMPARE(Action("Undo1")->text(), QString("Undo Echo delay"));

        Undo();
        QCOMPARE(DspParams.Echo.Delay, std::uint16_t(0));
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{EchoPayload()});
        QCOMPARE(delay->value(), 0);
        QCOMPARE(h.Find<QLabel>("LabelEchoDelay")->text(), QString("0ms"));

        Redo();
        QCOMPARE(DspParams.Echo.Delay, std::uint16_t(200));
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{EchoPayload()});
        QCOMPARE(h.Find<QLabel>("LabelEchoDelay")->text(), QString("200ms"));
    }

    void aPresetLoadIsUndoneWithAWriteAll()
    {
        const DspParamsImage start = DspParams;
        DspParams.Band[15].Fc = 1000.0f;
        DspParams.Echo.Delay = 120;
        DspParams.Dyn[3].Ratio = 7;
        QVERIFY(WriteDapFile(Path("live.dap").toStdString()));
        DspParams = start;
        Link();
        // "Write dsp ok!" is a modal box: the event loop runs before the load
        // is over, and the load must still be one whole step.
        h.ui.whileMessageShown = [] { QApplication::processEvents(); };
        h.Form().Files().Choose = [this](const FileQuestion&) { return Path("live.dap"); };
        h.Form().Open1Click();
        h.ui.whileMessageShown = nullptr;
        Settle();
        const DspParamsImage loaded = DspParams;
        QCOMPARE(DspParams.Echo.Delay, std::uint16_t(120));
        h.ClearTraffic();
        QCOMPARE(Action("Undo1")->text(), QString("Undo Open live.dap"));

        Undo();
        QVERIFY(SameSettings(DspParams, start));
        QCOMPARE(h.TakeRequests(), KeptThen(WriteAllPayloads()));
        Redo();
        QVERIFY(SameSettings(DspParams, loaded));
        QCOMPARE(h.TakeRequests(), KeptThen(WriteAllPayloads()));
        QCOMPARE(h.Find<QLineEdit>("FcEdit2")->text(), QString("125.0")); // MIC shown; MAIN holds the change

        // A file that is refused is no step.
        QFile bad(Path("bad.dap"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("S");
        bad.close();
        h.Form().Files().Choose = [this](const FileQuestion&) { return Path("bad.dap"); };
        h.Form().Open1Click();
        Settle();
        QCOMPARE(h.Form().History().UndoCount(), std::size_t(1));
    }

    void aNewEditDiscardsTheRedoBranch()
    {
        Link();
        for (int r : {1, 2}) {
            h.Editor().StepGain(r, ArrowAction::LineUp);
            Settle();
        }
        Undo();
        QCOMPARE(Action("Redo1")->text(), QString("Redo Gain of MIC band 2"));
        h.Editor().StepGain(3, ArrowAction::LineUp);
        Settle();
        QVERIFY(!Action("Redo1")->isEnabled());
        QCOMPARE(Action("Redo1")->text(), QString("Redo"));
        QCOMPARE(Action("Undo1")->text(), QString("Undo Gain of MIC band 3"));
        Undo();
        QCOMPARE(Action("Undo1")->text(), QString("Undo Gain of MIC band 1"));
        QCOMPARE(DspParams.Band[1].Gain, 0.0f); // band 2's step is gone for good
        QCOMPARE(DspParams.Band[0].Gain, 0.1f);
        h.ClearTraffic();
        Undo();
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(0)});
        QVERIFY(!Action("Undo1")->isEnabled());
    }

    void abSwitchesSendOnlyWhatDiffers()
    {
        Link();
        QAction* a = Action("CompareA1");
        QAction* b = Action("CompareB1");
        QCOMPARE(a->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_1));
        QCOMPARE(b->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_2));
        QLabel* status = h.Find<QLabel>("StatusCompare");
        QVERIFY(!status->isVisible());

        // The first switch copies the state into both: nothing to send.
        h.Find<QPushButton>("ButtonCompareB")->click();
        QVERIFY(h.TakeRequests().empty());
        QCOMPARE(h.Form().ActiveSlot(), 1);
        QCOMPARE(status->text(), QString("Compare: B"));
        QVERIFY(status->isVisible());
        QVERIFY(h.Find<QPushButton>("ButtonCompareB")->isChecked());
        QVERIFY(b->isChecked() && !a->isChecked());

        // B differs by one band, the echo delay and a mute.
        h.Editor().StepGain(4, ArrowAction::LineDown);
        Settle();
        h.SelectTab(2);
        h.Find<QSlider>("TrackBarDelay")->setValue(90);
        Settle();
        DspParams.Mute = 0x02; // as the OUT page's MAIN R box would leave it
        SendMute();
        Settle();
        const DspParamsImage inB = DspParams;
        h.ClearTraffic();

        a->trigger();
        QCOMPARE(status->text(), QString("Compare: A"));
        QCOMPARE(DspParams.Band[3].Gain, 0.0f);
        QCOMPARE(h.TakeRequests(), KeptThen({{0x1E, 0}, EchoPayload(), PeqBandsPayload(3)}));
        QCOMPARE(h.Find<QSlider>("TrackBarDelay")->value(), 0);

        b->trigger();
        QVERIFY(SameSettings(DspParams, inB));
        QCOMPARE(h.TakeRequests(), KeptThen({{0x1E, 2}, EchoPayload(), PeqBandsPayload(3)}));
        b->trigger(); // already B
        QVERIFY(h.TakeRequests().empty());

        // Each setting keeps its own history: undo in A leaves B's edits be.
        a->trigger();
        h.ClearTraffic();
        QVERIFY(!Action("Undo1")->isEnabled());
        b->trigger();
        QCOMPARE(Action("Undo1")->text(), QString("Undo Mute MAIN R"));
    }

    void copyEqBetweenFiveBandChannels()
    {
        h.SelectTab(3); // MAIN
        QMenu* menu = h.Form().findChild<QMenu*>("CopyEq1");
        emit menu->aboutToShow();
        QStringList offered;
        for (QAction* a : menu->actions())
            offered << a->text();
        QCOMPARE(offered, (QStringList{"EFFECT", "CENTER", "SUB", "SRS"}));

        DspParams.Band[15] = {0x44, 200.0f, 2.0f, -6.0f, {}}; // band off, High Shelf
        DspParams.Band[16] = {0x82, 900.0f, 1.0f, 3.0f, {}};  // channel EQ bit clear
        h.Editor().RefreshBands();
        Link();
        const DspParamsImage before = DspParams;
        h.Form().findChild<QAction*>("CopyEqToSUB")->trigger();
        for (int i = 0; i < 5; ++i)
            QVERIFY(SameBand(DspParams.Band[std::size_t(24 + i)], DspParams.Band[std::size_t(14 + i)]));
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{BandRunPayload(24, 5)});
        QCOMPARE(Action("Undo1")->text(), QString("Undo Copy MAIN EQ to SUB"));

        Undo();
        for (int i = 0; i < 5; ++i)
            QVERIFY(SameBand(DspParams.Band[std::size_t(24 + i)], before.Band[std::size_t(24 + i)]));
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{BandRunPayload(25, 2)}); // only the two that differed

        // Seven-band channels are offered only each other.
        h.SelectTab(1);
        emit menu->aboutToShow();
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions()[0]->text(), QString("MIC"));
    }

    void resetIsOneNamedStep()
    {
        h.SelectTab(3); // MAIN
        Link();
        for (int r : {1, 3}) {
            h.Editor().StepGain(r, ArrowAction::LineUp);
            Settle();
        }
        h.ClearTraffic();
        h.Find<QPushButton>("BitBtnReset")->click();
        Settle();
        QCOMPARE(h.TakeRequests().size(), std::size_t(5)); // one PeqBands per band, as ever
        QCOMPARE(Action("Undo1")->text(), QString("Undo Reset MAIN EQ"));
        Undo();
        QCOMPARE(DspParams.Band[16].Gain, 0.1f);
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{PeqBandsPayload(14), PeqBandsPayload(16)}));
        QCOMPARE(Action("Undo1")->text(), QString("Undo Gain of MAIN band 3"));
    }

    void noUndoStepReachesBackPastARead_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("read from dsp") << "button";
        QTest::newRow("first edit answered with a read") << "question";
        QTest::newRow("AUTO read at connect") << "auto";
    }
    void noUndoStepReachesBackPastARead()
    {
        QFETCH(QString, how);
        // Edits before the link: steps of the window's own image.
        h.Find<QSlider>("TrackBarEffectVol")->setValue(9);
        Settle();
        QCOMPARE(h.Form().History().UndoCount(), std::size_t(1));
        // The box holds a tuning the window has never seen.
        h.box->Box.Current.System[1] = 45;
        h.box->Box.Current.System[2] = 30;
        h.box->Box.Current.System[3] = 20;
        h.box->Box.Current.Bands[9 * 34 + 9 - 2] = 30; // EFFECT band 1 gain 3.0 dB
        h.Find<QCheckBox>("CheckBoxAuto")->setChecked(how == "auto");
        h.Form().ConnectBitBtnClick();
        if (how == "button") {
            h.Find<QPushButton>("UpdateDsp2Pc")->click();
        } else if (how == "question") {
            h.ui.rec.answers = {AnswerReadFirst};
            h.Find<QSlider>("TrackBarMicVol")->setValue(3); // sent after the read, on top of it
            Settle();
            QCOMPARE(h.Find<QSlider>("TrackBarMicVol")->value(), 3);
            QCOMPARE(h.box->Box.Current.System[1], std::uint8_t(3));
            // The edit is the one step after the read: its undo gives the box's volume back.
            QCOMPARE(Action("Undo1")->text(), QString("Undo Mic volume"));
            h.ClearTraffic();
            Undo();
            QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{{0x1F, 45, 30, 20}}));
        }
        Settle();
        QCOMPARE(h.Find<QSlider>("TrackBarMicVol")->value(), 45);
        QVERIFY(!Action("Undo1")->isEnabled());
        h.ClearTraffic();
        Undo();
        Undo();
        Settle();
        QVERIFY(h.TakeRequests().empty());
        QCOMPARE(h.box->Box.Current.System[1], std::uint8_t(45));

        // The user's own changes after the read are undone, and no further.
        h.Find<QSlider>("TrackBarMicVol")->setValue(50);
        Settle();
        h.ClearTraffic();
        Undo();
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{{0x1F, 45, 30, 20}}));
        Undo();
        Settle();
        QVERIFY(h.TakeRequests().empty());
        QCOMPARE(h.box->Box.Current.Bands[9 * 34 + 9 - 2], std::uint8_t(30));
    }

    void everyWholeChangeKeepsTheBoxStateToRestore()
    {
        // The box holds a tuning; the window, its defaults.
        h.box->Box.Current.System[1] = 45;
        h.box->Box.Current.System[2] = 30;
        h.box->Box.Current.System[3] = 20;
        h.box->Box.Current.Bands[9 * 34 + 9 - 2] = 30; // EFFECT band 1 gain 3.0 dB
        const VirtualBox::Settings tuned = h.box->Box.Current;
        h.Form().ConnectBitBtnClick();
        h.ClearTraffic();

        h.Find<QPushButton>("UpdatePc2Dsp")->click();
        QCOMPARE(h.TakeRequests(), KeptThen(WriteAllPayloads()));
        QCOMPARE(h.box->Box.Current.System[1], std::uint8_t(0));
        const std::vector<JournalEntry> kept = BoxJournal(Hid().OpenedId).List();
        QCOMPARE(kept.size(), std::size_t(1));
        QCOMPARE(kept[0].After, std::string("Write to dsp"));
        QVERIFY(QDir::fromNativeSeparators(QString::fromStdString(kept[0].Path))
                    .startsWith(QDir::fromNativeSeparators(QString::fromLocal8Bit(qgetenv(DataHomeVariable))) +
                                "/ktvtune/journal/"));

        // File > Restore box state lists it and writes it back, volumes too.
        std::vector<JournalEntry> offered;
        h.Form().Presets().ChooseBoxState = [&](const std::vector<JournalEntry>& entries) {
            offered = entries;
            return 0;
        };
        Action("RestoreBoxState1")->trigger();
        QCOMPARE(offered.size(), std::size_t(1));
        QCOMPARE(h.box->Box.Current, tuned);
        QCOMPARE(h.Find<QSlider>("TrackBarMicVol")->value(), 45);
        QCOMPARE(DspParams.Band[34].Gain, 3.0f);
        const std::vector<Bytes> sent = h.TakeRequests();
        QCOMPARE(sent, KeptThen(WriteAllPayloads()));
        // The restore kept the state it replaced, and is a step of its own.
        QCOMPARE(BoxJournal(Hid().OpenedId).List().front().After, std::string("Restore"));
        QVERIFY(Action("Undo1")->text().startsWith("Undo Restore box state of "));

        // A journal that cannot be written stops nothing and says so.
        QTemporaryDir blocked;
        QFile file(blocked.filePath("data"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QByteArray saved = qgetenv(DataHomeVariable);
        qputenv(DataHomeVariable, QDir::toNativeSeparators(blocked.filePath("data")).toLocal8Bit());
        h.ui.rec.answers = {0};
        h.Form().findChild<QComboBox*>("ComboBoxRecall")->setEditText("2");
        h.Find<QPushButton>("BitBtnRecall")->click();
        qputenv(DataHomeVariable, saved);
        const std::vector<Bytes> recall = h.TakeRequests();
        QCOMPARE(recall[9], (Bytes{0x28, 2, 2}));
        QVERIFY(h.Form().statusBar()->currentMessage().startsWith("The box's state was not saved: "));
    }

    // The list of kept states names the preset a load came from, shows its
    // times whole, and holds one entry for a run of A/B switches.
    void restoreListNamesThePresetAndFoldsTheSwitches()
    {
        h.box->Box.Current.System[1] = 45; // the box's own MIC volume
        QVERIFY(WriteDapFile(Path("club night_2.dap").toStdString()));
        h.Form().ConnectBitBtnClick();
        h.ClearTraffic();

        h.Form().Files().Choose = [this](const FileQuestion&) { return Path("club night_2.dap"); };
        h.Form().Open1Click();
        Settle();
        QCOMPARE(h.TakeRequests(), KeptThen(WriteAllPayloads()));

        // B (the first switch copies, sends and keeps nothing), B's volume
        // moved, then A, B, A: each switch keeps the box's state first.
        h.Find<QPushButton>("ButtonCompareB")->click();
        QVERIFY(h.TakeRequests().empty());
        h.Find<QSlider>("TrackBarMicVol")->setValue(30);
        Settle();
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{{0x1F, 30, 0, 0}}));
        for (int slot : {0, 1, 0}) {
            h.Find<QPushButton>(slot == 0 ? "ButtonCompareA" : "ButtonCompareB")->click();
            const std::uint8_t mic = slot == 0 ? 0 : 30; // a load leaves the volumes be
            QCOMPARE(h.TakeRequests(), KeptThen({{0x1F, mic, 0, 0}}));
        }

        // The last switch's entry (the box held B) and the load's (the box's own).
        const std::vector<JournalEntry> kept = BoxJournal(Hid().OpenedId).List();
        QCOMPARE(kept.size(), std::size_t(2));
        QCOMPARE(kept[0].After, std::string("Compare A"));
        QCOMPARE(kept[1].After, std::string("Load preset club night_2.dap"));
        for (auto [n, mic] : {std::pair{0, 30}, std::pair{1, 45}}) {
            DapBytes bytes{};
            QCOMPARE(LoadDapFile(kept[std::size_t(n)].Path, bytes), DapReadError::None);
            QCOMPARE(int(bytes[Dap::MicVol]), mic);
        }

        // The dialog as the user sees it; cancelled, it sends nothing.
        QStringList after, times, cut;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            QApplication::processEvents();
            auto* table = dialog->findChild<QTableWidget*>("TableBoxStates");
            const int margin = 2 * (table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1);
            for (int r = 0; table && r < table->rowCount(); ++r) {
                times << table->item(r, 0)->text();
                after << table->item(r, 1)->text();
                const int needs = table->fontMetrics().horizontalAdvance(table->item(r, 0)->text()) + margin;
                if (table->visualItemRect(table->item(r, 0)).width() < needs)
                    cut << QString("%1 needs %2 px, has %3")
                               .arg(table->item(r, 0)->text())
                               .arg(needs)
                               .arg(table->visualItemRect(table->item(r, 0)).width());
            }
            dialog->reject();
        });
        Action("RestoreBoxState1")->trigger();
        QCOMPARE(after, QStringList({"Compare A", "Load preset club night_2.dap"}));
        QCOMPARE(times, QStringList({QString::fromStdString(kept[0].Time), QString::fromStdString(kept[1].Time)}));
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join("; ")));
        QVERIFY(h.TakeRequests().empty());
    }

    void compareTableForAChangedBandAndDelay()
    {
        const DspParamsImage mine = DspParams;
        DspParams.Band[15].Fc = 1000.0f;
        DspParams.Delay[0] = 441;
        DspParams.Echo.Delay = 120;
        QVERIFY(WriteDapFile(Path("other.dap").toStdString()));
        DspParams = mine;
        h.ClearTraffic();

        h.Form().Files().Choose = [this](const FileQuestion&) { return Path("other.dap"); };
        h.Form().Changes().ComparePreset1Click();
        QDialog* dialog = h.Form().CompareDialog();
        QVERIFY(dialog && dialog->isVisible());
        auto* table = dialog->findChild<QTableWidget*>("TableDifferences");
        auto rows = [table] {
            QStringList all;
            for (int r = 0; r < table->rowCount(); ++r)
                all << table->item(r, 0)->text() + "|" + table->item(r, 1)->text() + "|" + table->item(r, 2)->text();
            return all;
        };
        QCOMPARE(rows(), (QStringList{"Delay MAIN L|0|441", "Echo delay|0|120", "MAIN band 2 Fc|125|1000"}));
        QCOMPARE(table->horizontalHeaderItem(2)->text(), QString("File"));
        QVERIFY(SameSettings(DspParams, mine)); // the window's image is untouched
        QVERIFY(h.TakeRequests().empty());

        // The box, read into a scratch image.
        Link();
        h.box->Box.Current.System[12] = 0x10; // Delay MAIN R = 16
        h.box->Box.Current.Bands[9 * 34 + 9 - 2] = 30; // EFFECT band 1 gain 3.0 dB (tenths, low byte)
        h.Form().Changes().CompareBox1Click();
        QCOMPARE(rows(), (QStringList{"Delay MAIN R|0|16", "EFFECT band 1 gain|0|3"}));
        QCOMPARE(table->horizontalHeaderItem(2)->text(), QString("Box"));
        QVERIFY(SameSettings(DspParams, mine));
        for (const Bytes& request : h.TakeRequests())
            QVERIFY(request[0] == 0x81 || request[0] == 0x82 || request[0] == 0xA0); // reads only
        QCOMPARE(dialog->findChild<QLabel*>("LabelDifferences")->text(), QString("2 field(s) differ."));
    }
};

QTEST_MAIN(UndoCompareTest)
#include "UndoCompareTest.moc"
