// The main window: start-up state, master and maximum volumes, the channel
// tabs with the editor moving between them, and the SYSTEM tab.

#include "support/GuiHarness.h"

#include "app/About.h"
#include "app/Help.h"
#include "editor/SettingsPages.h"
#include "params/Commands.h"

#include <qcustomplot.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QTextBrowser>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

using namespace ktv;
using namespace ktv::test;

class MainWindowTest : public QObject {
    Q_OBJECT
    GuiHarness h;

    QSlider* Bar(const char* name) { return h.Find<QSlider>(name); }
    QString Caption(const char* panel) { return h.Find<CaptionPanel>(panel)->Caption(); }

private slots:
    void init() { h.Start(); }
    void cleanup() { h.Stop(); }

    void startUpShowsTheDesignedState()
    {
        TFormMain& f = h.Form();
        QCOMPARE(f.windowTitle(), QString("KTV Tune"));
        QCOMPARE(f.size(), QSize(1120, 650));

        QTabWidget* tabs = f.PageControl1();
        const QStringList captions{"MIC", "MUSIC", "EFECT", "MAIN", "CENTER", "SUB", "SRS", "SYSTEM"};
        QCOMPARE(tabs->count(), captions.size());
        for (int i = 0; i < captions.size(); ++i)
            QCOMPARE(tabs->tabText(i), captions[i]);
        QCOMPARE(tabs->currentIndex(), 0);
        for (const char* panel : {"PanelPeqMic", "PanelPeqMusic", "PanelRev", "PanelPeqMain", "PanelPeqCenter",
                                  "PanelPeqSub", "PanelPeqSrs"})
            QVERIFY2(h.Find<QWidget>(panel), panel);

        QCOMPARE(Caption("PanelMicVol"), QString("Mic:0"));
        QCOMPARE(Caption("PanelMusicVol"), QString("Music:0"));
        QCOMPARE(Caption("PanelEffectVol"), QString("Effect:0"));
        for (const char* bar : {"TrackBarMicVol", "TrackBarMusicVol", "TrackBarEffectVol"}) {
            QCOMPARE(Bar(bar)->value(), 0);
            QCOMPARE(Bar(bar)->maximum(), 100);
        }
        for (const char* bar : {"TrackBarMicMaxVol", "TrackBarMusicMaxVol"})
            QCOMPARE(Bar(bar)->value(), 100);
        QCOMPARE(h.Find<QLabel>("LabelMicMaxVol")->text(), QString("100"));
        QCOMPARE(h.Find<QLabel>("LabelMusicMaxVol")->text(), QString("100"));

        auto* autoBox = h.Find<QCheckBox>("CheckBoxAuto");
        QCOMPARE(autoBox->text(), QString("AUTO"));
        QVERIFY(!autoBox->isChecked());
        QCOMPARE(h.Find<QPushButton>("ConnectBitBtn")->text(), QString("Connect"));
        QVERIFY(!h.Find<QPushButton>("ConnectBitBtn")->icon().isNull());

        QCOMPARE(f.StatusText(0), QString("No Connect!"));
        QCOMPARE(f.StatusText(1), QString("Commution State:"));
        QCOMPARE(f.StatusText(2), QString("Device ID:1"));

        // SYSTEM page.
        QCOMPARE(h.Find<QGroupBox>("GroupBoxSystem")->title(), QString("System"));
        QCOMPARE(h.Find<QGroupBox>("GroupBoxMode")->title(), QString("Mode"));
        const std::pair<const char*, const char*> buttons[] = {
            {"ButtonResh", "Refresh"},         {"Button1", "Save to file"},
            {"Button2", "Recall from file"},   {"UpdatePc2Dsp", "Write to dsp"},
            {"UpdateDsp2Pc", "Read from dsp"}, {"BitBtnSave", "Set   factory   mode:"},
            {"BitBtnRecall", "Reset factory mode:"}};
        for (auto [name, text] : buttons)
            QCOMPARE(h.Find<QPushButton>(name)->text(), QString(text));
        for (const char* name : {"ComboBoxSave", "ComboBoxRecall"}) {
            auto* combo = h.Find<QComboBox>(name);
            QCOMPARE(combo->count(), 8);
            QCOMPARE(combo->currentText(), QString("1"));
            QCOMPARE(combo->itemText(7), QString("8"));
        }
        QVERIFY(h.Find<QListWidget>("FileListBox1"));

        // Menu.
        QStringList menus;
        for (QAction* a : f.menuBar()->actions())
            menus << a->text();
        QCOMPARE(menus, QStringList({"File", "Edit", "View", "EQ", "Measure", "Help"}));
        QStringList items;
        for (QAction* a : f.menuBar()->actions()[0]->menu()->actions())
            if (!a->isSeparator())
                items << a->text();
        QCOMPARE(items, QStringList({"Open", "Save", "Import filters…", "Export filters…", "Load measurement…",
                                     "Export chart…", "Compare with preset...", "Compare with box", "Restore box state…",
                                     "Exit"}));
        const std::pair<const char*, QKeySequence> shortcuts[] = {{"Open1", QKeySequence("Ctrl+O")},
                                                                  {"Save1", QKeySequence("Ctrl+S")},
                                                                  {"ImportFilters1", QKeySequence("Ctrl+I")},
                                                                  {"Exit1", QKeySequence("Ctrl+Q")}};
        for (auto [name, keys] : shortcuts)
            QCOMPARE(f.findChild<QAction*>(name)->shortcut(), keys);
        items.clear();
        for (QAction* a : f.menuBar()->actions()[2]->menu()->actions())
            if (!a->isSeparator())
                items << a->text();
        QCOMPARE(items, QStringList({"Compare", "Clear measurement"}));
        items.clear();
        for (QAction* a : f.menuBar()->actions()[3]->menu()->actions())
            items << a->text();
        QCOMPARE(items, QStringList({"Fit to measurement…"}));
        items.clear();
        for (QAction* a : f.menuBar()->actions().back()->menu()->actions())
            items << a->text();
        QCOMPARE(items, QStringList({"Help", "About"}));

        // The editor sits in the MIC tab, showing bands 0..6 with their
        // creation values; nothing was sent.
        TFormPEQA& e = h.Editor();
        QCOMPARE(e.parentWidget(), h.Find<QWidget>("PanelPeqMic"));
        QVERIFY(e.isVisible());
        QCOMPARE(int(e.Channel), 0);
        QCOMPARE(int(e.FirstBand), 0);
        QCOMPARE(int(e.BandCount), 7);
        QCOMPARE(e.PageControlSet()->currentIndex(), 0);
        QVERIFY(!e.PageControlSet()->tabBar()->isVisible());
        QCOMPARE(h.box->Box.ReceivedPayloads().size(), std::size_t(0));
    }

    void micVolumeAboveItsMaximumIsClampedAndSentTwice()
    {
        Bar("TrackBarMicMaxVol")->setValue(60);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{MaxVolumePayload()});

        Bar("TrackBarMicVol")->setValue(80);
        QCOMPARE(Bar("TrackBarMicVol")->value(), 60);
        QCOMPARE(int(DspParams.MicVol), 60);
        QCOMPARE(Caption("PanelMicVol"), QString("Mic:60"));
        const Bytes master{0x1F, 60, 0, 0};
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{master, master}));
        QCOMPARE(h.Form().StatusText(1), QString("Read:Ok!"));
    }

    void loweringAMaximumBelowTheVolumeSendsMaxThenMaster()
    {
        Bar("TrackBarMusicVol")->setValue(50);
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{{0x1F, 0, 50, 0}}));

        Bar("TrackBarMusicMaxVol")->setValue(30);
        QCOMPARE(h.Find<QLabel>("LabelMusicMaxVol")->text(), QString("30"));
        QCOMPARE(Bar("TrackBarMusicVol")->value(), 30);
        QCOMPARE(Caption("PanelMusicVol"), QString("Music:30"));
        QCOMPARE(int(DspParams.MusicVol), 30);
        Bytes max{0x2D};
        max.insert(max.end(), DspParams.MaxVol.begin(), DspParams.MaxVol.end());
        QCOMPARE(int(max[2]), 30);
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{max, {0x1F, 0, 30, 0}}));
    }

    void raisingAMaximumLeavesTheVolume()
    {
        Bar("TrackBarMicVol")->setValue(40);
        Bar("TrackBarMicMaxVol")->setValue(50);
        h.ClearTraffic();
        Bar("TrackBarMicMaxVol")->setValue(90);
        QCOMPARE(int(DspParams.MicVol), 40);
        QCOMPARE(Bar("TrackBarMicVol")->value(), 40);
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{MaxVolumePayload()});
    }

    void effectVolumeHasNoMaximum()
    {
        Bar("TrackBarMicMaxVol")->setValue(0);
        Bar("TrackBarMusicMaxVol")->setValue(0);
        h.ClearTraffic();
        Bar("TrackBarEffectVol")->setValue(100);
        QCOMPARE(int(DspParams.EffectVol), 100);
        QCOMPARE(Caption("PanelEffectVol"), QString("Effect:100"));
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{{0x1F, 0, 0, 100}}));
    }

    void refreshVolumeControlsSendsOnlyWhatChanged()
    {
        h.Form().RefreshVolumeControls();
        QVERIFY(h.TakeRequests().empty());

        DspParams.MusicVol = 20;
        DspParams.MaxVol[0] = 70;
        h.Form().RefreshVolumeControls();
        QCOMPARE(Caption("PanelMusicVol"), QString("Music:20"));
        QCOMPARE(h.Find<QLabel>("LabelMicMaxVol")->text(), QString("70"));
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{MasterVolumePayload(), MaxVolumePayload()}));
    }

    void failedVolumeRequestKeepsTheValue()
    {
        h.box->Present = false;
        Hid().CloseDevice();
        Bar("TrackBarEffectVol")->setValue(33);
        QCOMPARE(int(DspParams.EffectVol), 33);
        QCOMPARE(Caption("PanelEffectVol"), QString("Effect:33"));
        QCOMPARE(h.Form().StatusText(1), QString("Write:fault!"));
    }

    void channelTabsRetargetTheOneEditor_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("panel");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("page");
        QTest::newRow("MUSIC") << 1 << "PanelPeqMusic" << 7 << 7 << 1;
        QTest::newRow("EFECT") << 2 << "PanelRev" << 34 << 5 << 2;
        QTest::newRow("MAIN") << 3 << "PanelPeqMain" << 14 << 5 << 3;
        QTest::newRow("CENTER") << 4 << "PanelPeqCenter" << 29 << 5 << 3;
        QTest::newRow("SUB") << 5 << "PanelPeqSub" << 24 << 5 << 3;
        QTest::newRow("SRS") << 6 << "PanelPeqSrs" << 19 << 5 << 3;
    }

    void channelTabsRetargetTheOneEditor()
    {
        QFETCH(int, tab);
        QFETCH(QString, panel);
        QFETCH(int, first);
        QFETCH(int, count);
        QFETCH(int, page);
        TFormPEQA* editor = &h.Editor();
        DspParams.Band[std::size_t(first)].Fc = 1234.0f;
        h.SelectTab(tab);
        QCOMPARE(&h.Editor(), editor);
        QCOMPARE(editor->parentWidget()->objectName(), panel);
        QVERIFY(editor->isVisible());
        QCOMPARE(int(editor->Channel), tab);
        QCOMPARE(int(editor->FirstBand), first);
        QCOMPARE(int(editor->BandCount), count);
        QCOMPARE(editor->PageControlSet()->currentIndex(), page);
        for (int r = 1; r <= 7; ++r)
            QCOMPARE(h.Find<QGroupBox>(qPrintable(QString("GroupBox%1").arg(r)))->isVisible(), r <= count);
        // The rows and the points show the new group.
        QCOMPARE(h.Find<QLineEdit>("FcEdit1")->text(), QString("1234.0"));
        QCOMPARE(editor->Series(SeriesPoints)->dataCount(), count);
    }

    void rightHandDelayFollowsTheOutputChannel()
    {
        auto* delayR = h.Find<QWidget>("TrackBarDelayR");
        QVERIFY(delayR);
        h.SelectTab(3);
        QVERIFY(!delayR->isHidden());
        h.SelectTab(4);
        QVERIFY(delayR->isHidden());
        // MIC, MUSIC and EFFECT leave it as the last output channel left it.
        h.SelectTab(0);
        h.SelectTab(1);
        QVERIFY(delayR->isHidden());
        h.SelectTab(6);
        QVERIFY(!delayR->isHidden());
        h.SelectTab(2);
        QVERIFY(!delayR->isHidden());
    }

    void channelIsSetBeforeTheRefresh()
    {
        // A MUSIC band whose bypass box must change is resent during the
        // refresh of the switch, addressed as a MUSIC band.
        DspParams.Band[8].Flags &= std::uint8_t(~FlagBandOn);
        h.SelectTab(1);
        auto requests = h.TakeRequests();
        QVERIFY(!requests.empty());
        QCOMPARE(requests.front(), PeqBandsPayload(8));
        QVERIFY(h.Find<QCheckBox>("FEn2")->isChecked());
    }

    void bandsAreRefreshedBeforeTheSettingsLoad()
    {
        // On MAIN a band to resend (refresh) and a delay that moves its
        // track bar (settings load): the band request goes first, and the
        // delay request addresses MAIN's line.
        DspParams.Band[15].Flags &= std::uint8_t(~FlagBandOn);
        DspParams.Delay[0] = 100;
        h.SelectTab(3);
        const auto requests = h.TakeRequests();
        QVERIFY(requests.size() >= 2);
        QCOMPARE(requests[0], PeqBandsPayload(15));
        std::size_t delay = 0;
        while (delay < requests.size() && requests[delay][0] != std::uint8_t(DspCommand::Delay))
            ++delay;
        QVERIFY2(delay < requests.size(), "no Delay request");
        QVERIFY(delay > 0);
        QCOMPARE(int(GetU16(&requests[delay][1])), 100);
    }

    void systemTabLeavesTheEditorAlone()
    {
        h.SelectTab(3);
        h.ClearTraffic();
        QWidget* panel = h.Editor().parentWidget();
        h.SelectTab(7);
        QCOMPARE(int(h.Editor().Channel), 3);
        QCOMPARE(int(h.Editor().FirstBand), 14);
        QCOMPARE(h.Editor().parentWidget(), panel);
        QVERIFY(!h.Editor().isVisible());
        QVERIFY(h.TakeRequests().empty());

        // Back to the channel: the whole sequence runs again.
        DspParams.Band[15].Gain = 4.5f;
        h.SelectTab(3);
        QVERIFY(h.Editor().isVisible());
        QCOMPARE(h.Find<QLineEdit>("FGainEdit2")->text(), QString("4.5"));
    }

    void aboutBoxClosesOnAClick()
    {
        TAboutBox* about = h.Form().AboutBox();
        QCOMPARE(about->windowTitle(), QString("About"));
        QCOMPARE(about->size(), QSize(200, 185));
        QCOMPARE(h.Find<QLabel>("Version")->text(), QString("Version " KTV_VERSION));
        QCOMPARE(h.Find<QLabel>("Licence")->text(), QString("Licence: GPL-3.0-or-later"));
        about->show();
        QVERIFY(about->isVisible());
        QTest::mouseClick(about, Qt::LeftButton, {}, QPoint(100, 60));
        QVERIFY(!about->isVisible());
    }

    void helpOpensTheGuideBuiltIntoTheProgram()
    {
        h.Find<QAction>("Help2")->trigger();
        THelpBox* help = h.Form().HelpBox();
        QVERIFY(help->isVisible());
        const QString text = help->Text()->toPlainText();
        QVERIFY2(text.contains("KTV Tune user guide") && text.contains("ktvtune.ini"), qPrintable(text.left(200)));
        // It explains measuring, the fit and the box's kept states under the
        // names the window gives them.
        const QStringList missing = MissingFromGuide(h.Form(), text);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
        help->close();
    }

    void theTopStripStaysInViewInASmallWindow()
    {
        TFormMain& f = h.Form();
        f.resize(480, 320); // no smaller than the window allows
        QApplication::processEvents();
        QVERIFY(f.width() < 1000 && f.height() < 400);
        for (int tab : {0, 5, 7}) {
            h.SelectTab(tab);
            QApplication::processEvents();
            // The page scrolls: to its far end each way.
            QScrollArea* page = f.PageScroller(tab);
            QVERIFY(page->isVisible());
            QVERIFY2(page->verticalScrollBar()->maximum() > 0, qPrintable(QString::number(tab)));
            page->verticalScrollBar()->setValue(page->verticalScrollBar()->maximum());
            page->horizontalScrollBar()->setValue(page->horizontalScrollBar()->maximum());
            QApplication::processEvents();
            for (const char* name : {"ConnectBitBtn", "CheckBoxAuto", "ButtonCompareA", "ButtonCompareB", "PanelMicVol",
                                     "PanelMusicVol", "PanelEffectVol"}) {
                auto* w = h.Find<QWidget>(name);
                const QRect inWindow(w->mapTo(&f, QPoint(0, 0)), w->size());
                QVERIFY2(w->isVisible() && w->visibleRegion().boundingRect() == w->rect() && f.rect().contains(inWindow),
                         qPrintable(QString("tab %1: %2 at %3,%4 %5x%6 in %7x%8, shown %9x%10")
                                        .arg(tab).arg(name).arg(inWindow.x()).arg(inWindow.y()).arg(inWindow.width())
                                        .arg(inWindow.height()).arg(f.width()).arg(f.height())
                                        .arg(w->visibleRegion().boundingRect().width())
                                        .arg(w->visibleRegion().boundingRect().height())));
            }
            QVERIFY(!f.PageControl1()->tabBar()->visibleRegion().isEmpty());
        }
        // And it works from there: Connect links the box.
        h.Find<QPushButton>("ConnectBitBtn")->click();
        QVERIFY(Hid().Linked);
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{{0x2A, 1}}));
    }

        void closingAfterALinkSendsLinkOff()
    {
        Hid().Linked = true;
        h.Form().close();
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{{std::uint8_t(DspCommand::Link), 0}}));
        QVERIFY(!Hid().Linked);
        QVERIFY(!Hid().Opened);
    }

    void closingWithoutALinkSendsNothing()
    {
        QVERIFY(Hid().Opened);
        h.Find<QAction>("Exit1")->trigger();
        QVERIFY(!h.Form().isVisible());
        QVERIFY(h.TakeRequests().empty());
        QVERIFY(!Hid().Opened);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
