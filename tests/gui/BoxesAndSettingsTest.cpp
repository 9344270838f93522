// The window with several boxes present (Connect asks which one, the status
// bar names it) and what it remembers from one run to the next.

#include "support/GuiHarness.h"

#include "app/Settings.h"
#include "device/platform/DeviceEvents.h"
#include "editor/FitPanel.h"
#include "params/BoxLink.h"
#include "presets/DapFile.h"
#include "sim/InProcessBox.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

using namespace ktv;
using namespace ktv::test;

namespace {

// Two boxes on one laptop. The window holds one open at a time, so each
// call goes to the box opened last.
class TwoBoxes final : public HidPlatform {
public:
    InProcessBox first, second;
    TwoBoxes()
    {
        second.Path = "inproc:box2";
        second.InstanceId = "VIRTUAL\\VID_2B5E&PID_61D3\\inproc2";
    }
    std::vector<HidInterface> ListInterfaces() override
    {
        std::vector<HidInterface> all = first.ListInterfaces();
        for (HidInterface& i : second.ListInterfaces())
            all.push_back(i);
        return all;
    }
    PlatformHandle Open(const std::string& path) override
    {
        open_ = path == second.Path ? &second : &first;
        return open_->Open(path);
    }
    bool Write(PlatformHandle handle, const Report& report) override { return open_->Write(handle, report); }
    bool Read(PlatformHandle handle, Report& report, std::size_t& bytesRead, int timeoutMs) override
    {
        return open_->Read(handle, report, bytesRead, timeoutMs);
    }
    void Close(PlatformHandle handle) override { open_->Close(handle); }
    std::uint32_t LastError() override { return open_->LastError(); }

private:
    InProcessBox* open_ = &first;
};

void Touch(const QString& path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

// What of the window the user could not reach on its screen: the window
// itself outside the screen's free area, Connect or the status bar not
// wholly shown there, a tab hidden. Empty when all is in reach.
QString OutOfReach(TFormMain& form)
{
    const QRect area = form.screen()->availableGeometry();
    auto text = [](const QRect& r) { return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()); };
    if (!area.contains(form.frameGeometry()))
        return QString("the window at %1 is not within %2").arg(text(form.frameGeometry()), text(area));
    for (QWidget* w : {static_cast<QWidget*>(form.findChild<QPushButton*>("ConnectBitBtn")),
                       static_cast<QWidget*>(form.statusBar())}) {
        const QRect global(w->mapToGlobal(QPoint(0, 0)), w->size());
        if (!w->isVisible() || !area.contains(global) || w->visibleRegion().boundingRect() != w->rect())
            return QString("%1 at %2 (shown %3) is not within %4")
                .arg(w->objectName(), text(global), text(w->visibleRegion().boundingRect()), text(area));
    }
    // Every tab shown whole beside the strip, none behind scroll arrows.
    const QTabBar* tabs = form.PageControl1()->tabBar();
    if (tabs->width() < tabs->sizeHint().width())
        return QString("the tabs need %1 px, have %2").arg(tabs->sizeHint().width()).arg(tabs->width());
    return {};
}

} // namespace

class BoxesAndSettingsTest : public QObject {
    Q_OBJECT
    GuiHarness h;
    TwoBoxes boxes;
    QStringList offered;
    int choice = 0;

    QString BoxPanel() { return h.Find<QLabel>("StatusPanelBox")->text(); }
    void UseTwoBoxes()
    {
        Hid().CloseDevice();
        Hid().SetPlatform(&boxes);
        for (InProcessBox* b : {&boxes.first, &boxes.second}) {
            b->Box.Log.clear();
            b->Present = true;
        }
        offered.clear();
        h.Form().Connection().ChooseBox = [this](const QStringList& identifiers) {
            offered = identifiers;
            return choice;
        };
    }

private slots:
    void init() { h.Start(); }
    void cleanup()
    {
        h.Stop();
        h.keepSettings = false;
    }

    void connectAsksWhichBoxAndTheStatusBarNamesIt_data()
    {
        QTest::addColumn<int>("choice");
        QTest::newRow("first") << 0;
        QTest::newRow("second") << 1;
    }
    void connectAsksWhichBoxAndTheStatusBarNamesIt()
    {
        QFETCH(int, choice);
        UseTwoBoxes();
        this->choice = choice;
        QCOMPARE(BoxPanel(), QString());
        h.Form().ConnectBitBtnClick();
        QCOMPARE(offered, QStringList({"VIRTUAL\\VID_2B5E&PID_61D3\\inproc", "VIRTUAL\\VID_2B5E&PID_61D3\\inproc2"}));
        QVERIFY(Hid().Linked);
        QCOMPARE(h.Form().StatusText(0), QString("Connect:ok!"));
        QCOMPARE(BoxPanel(), offered[choice]);

        // Edits reach the chosen box only (sent as they are, not read first).
        InProcessBox& chosen = choice ? boxes.second : boxes.first;
        InProcessBox& other = choice ? boxes.first : boxes.second;
        h.ui.rec.answers = {AnswerSendChange};
        h.Find<QSlider>("TrackBarEffectVol")->setValue(7);
        QCOMPARE(chosen.Box.ReceivedPayloads(), (std::vector<Bytes>{{0x2A, 1}, {0x1F, 0, 0, 7}}));
        QVERIFY(other.Box.ReceivedPayloads().empty());

        h.Form().ConnectBitBtnClick();
        QVERIFY(!Hid().Linked);
        QCOMPARE(chosen.Box.ReceivedPayloads().back(), (Bytes{0x2A, 0}));
        QCOMPARE(BoxPanel(), QString());
        QVERIFY(other.Box.ReceivedPayloads().empty());
    }

    void cancellingTheChoiceChangesNothing()
    {
        UseTwoBoxes();
        choice = -1;
        h.Form().ConnectBitBtnClick();
        QCOMPARE(offered.size(), 2);
        QVERIFY(!Hid().Opened);
        QVERIFY(!Hid().Linked);
        QCOMPARE(h.Form().StatusText(0), QString("No Connect!"));
        QVERIFY(boxes.first.Box.ReceivedPayloads().empty());
        QVERIFY(boxes.second.Box.ReceivedPayloads().empty());
        QVERIFY(h.ui.rec.messages.empty());
    }

    void withOneBoxConnectAsksNothing()
    {
        UseTwoBoxes();
        boxes.first.Present = false;
        h.Form().ConnectBitBtnClick();
        QVERIFY(offered.isEmpty());
        QVERIFY(Hid().Linked);
        QCOMPARE(BoxPanel(), QString("VIRTUAL\\VID_2B5E&PID_61D3\\inproc2"));

        // Its removal unlinks and the status bar stops naming it.
        h.Form().DeviceChange(DeviceEventKind::Removal, "VIRTUAL\\VID_2B5E&PID_61D3\\inproc2");
        QVERIFY(!Hid().Linked);
        QCOMPARE(BoxPanel(), QString());
    }

    void settingsAreRememberedAcrossTwoStarts()
    {
        QTemporaryDir files;
        const QDir root(files.path());
        for (const char* sub : {"opened", "saved", "presets", "filters", "charts"})
            QVERIFY(root.mkdir(sub));
        Touch(root.filePath("presets/club.dap"));

        // The first run: the designed start.
        TFormMain* f = &h.Form();
        QCOMPARE(f->size(), QSize(1120, 650));
        QVERIFY(!h.Find<QCheckBox>("CheckBoxAuto")->isChecked());
        QCOMPARE(f->PageControl1()->currentIndex(), 0);
        QCOMPARE(f->DialogFolder("Open"), QString());
        QCOMPARE(f->PresetDirectory(), QDir::currentPath());

        f->resize(900, 560);
        f->move(60, 40);
        const QPoint place = f->pos();
        h.SelectTab(3);
        h.Find<QCheckBox>("CheckBoxAuto")->setChecked(true);
        const QString badPreset = root.filePath("opened/not-a-preset.dap");
        Touch(badPreset);
        f->Files().Choose = [&](const FileQuestion&) { return badPreset; };
        f->Open1Click();
        f->Files().Choose = [&](const FileQuestion&) { return root.filePath("saved/live"); };
        f->Save1Click();
        QVERIFY(QFile::exists(root.filePath("saved/live.dap")));
        f->Files().Choose = [&](const FileQuestion&) { return root.filePath("presets"); };
        f->Presets().ButtonFolderClick();
        // The filter and chart dialogs each keep their own folder.
        QStringList asked;
        f->Files().Choose = [&](const FileQuestion& question) {
            const QString& dialog = question.Purpose;
            asked << dialog;
            return root.filePath(dialog == "Import" ? "filters/room.txt" : "charts/mic.png");
        };
        f->Interop().ImportFiltersClick();
        f->Interop().ExportChartClick();
        QCOMPARE(asked, QStringList({"Import", "Chart"}));
        auto* list = h.Find<QListWidget>("FileListBox1");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QString("club.dap"));

        h.Stop();
        h.keepSettings = true;
        h.Start();
        f = &h.Form();
        QCOMPARE(f->size(), QSize(900, 560));
        QCOMPARE(f->pos(), place);
        QCOMPARE(f->PageControl1()->currentIndex(), 3);
        // The editor went with the tab, as after a click.
        QCOMPARE(h.Editor().parentWidget(), h.Find<QWidget>("PanelPeqMain"));
        QVERIFY(h.Find<QCheckBox>("CheckBoxAuto")->isChecked());
        QCOMPARE(f->DialogFolder("Open"), root.filePath("opened"));
        QCOMPARE(f->DialogFolder("Save"), root.filePath("saved"));
        QCOMPARE(f->DialogFolder("Import"), root.filePath("filters"));
        QCOMPARE(f->DialogFolder("Chart"), root.filePath("charts"));
        QCOMPARE(f->DialogFolder("Export"), QString());
        QCOMPARE(f->PresetDirectory(), root.filePath("presets"));
        list = h.Find<QListWidget>("FileListBox1");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QString("club.dap"));

        // A preset folder that has gone since falls back to where we started;
        // resetting forgets everything.
        h.Stop();
        QVERIFY(QDir(root.filePath("presets")).removeRecursively());
        h.Start();
        QCOMPARE(h.Form().PresetDirectory(), QDir::currentPath());
        QVERIFY(h.Find<QCheckBox>("CheckBoxAuto")->isChecked());
        h.Stop();
        ResetSettings();
        h.Start();
        QCOMPARE(h.Form().size(), QSize(1120, 650));
        QCOMPARE(h.Form().PageControl1()->currentIndex(), 0);
        QVERIFY(!h.Find<QCheckBox>("CheckBoxAuto")->isChecked());
        QCOMPARE(h.Form().DialogFolder("Open"), QString());
    }

    // Wherever the window was last (a larger screen, a smaller scale, a
    // monitor since unplugged), it opens whole on the screen it opens on,
    // Connect and the status bar in reach; at the designed size and place
    // where they fit. Also run with the screen at 150 %.
    void theWindowOpensWhollyOnTheScreen()
    {
        TFormMain* f = &h.Form();
        const QRect area = f->screen()->availableGeometry();
        const QRect designed(146, 55, 1120, 650);
        if (area.contains(f->frameGeometry().adjusted(0, 0, designed.width() - f->width(), designed.height() - f->height()))) {
            QCOMPARE(f->size(), designed.size());
            QCOMPARE(f->pos(), designed.topLeft());
        }
        QVERIFY2(OutOfReach(*f).isEmpty(), qPrintable(OutOfReach(*f)));

        // Closed larger than this screen and past its bottom right corner.
        f->setGeometry(QRect(area.center(), area.size() + QSize(300, 200)));
        QCoreApplication::processEvents();
        h.Stop();
        h.keepSettings = true;
        h.Start();
        f = &h.Form();
        QVERIFY2(OutOfReach(*f).isEmpty(), qPrintable(OutOfReach(*f)));

        // A place on a monitor since unplugged, as the settings file keeps it.
        h.Stop();
        {
            QWidget elsewhere;
            elsewhere.setGeometry(area.right() + 400, area.bottom() + 300, 1000, 600);
            OpenSettings()->setValue("window/geometry", elsewhere.saveGeometry());
        }
        h.Start();
        f = &h.Form();
        QVERIFY2(OutOfReach(*f).isEmpty(), qPrintable(OutOfReach(*f)));
        QCOMPARE(f->size(), QSize(1000, 600)); // a size that fits is kept
    }

    // The fit panel's two file buttons and "Compare with preset..." start
    // where they last found a file, each its own folder, in the next run too.
    void fitPanelAndCompareRememberTheirFolders()
    {
        QTemporaryDir files;
        const QDir root(files.path());
        for (const char* sub : {"rooms", "targets", "presets"})
            QVERIFY(root.mkdir(sub));
        const QString room = root.filePath("rooms/room.txt");
        const QString target = root.filePath("targets/house.txt");
        for (const QString& path : {room, target}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("100 70\n1000 72\n10000 68\n");
        }
        const QString preset = root.filePath("presets/other.dap");
        QVERIFY(WriteDapFile(preset.toStdString()));
        std::vector<FileQuestion> asked;
        const auto answer = [&](const FileQuestion& q) {
            asked.push_back(q);
            return q.Purpose == "Compare" ? preset : q.Purpose == "FitTarget" ? target : room;
        };
        const auto useAll = [&] {
            h.Form().Files().Choose = answer;
            h.Form().findChild<QAction*>("FitToMeasurement1")->trigger();
            TFitPanel* panel = h.Form().FitPanel();
            panel->findChild<QPushButton*>("FitMeasurementFile")->click();
            panel->findChild<QComboBox*>("FitTarget")->setCurrentIndex(2); // a target curve from a file
            panel->findChild<QPushButton*>("FitTargetFile")->click();
            h.Form().findChild<QAction*>("ComparePreset1")->trigger();
        };

        useAll();
        QCOMPARE(int(asked.size()), 3);
        for (const FileQuestion& q : asked)
            QCOMPARE(q.Folder, QString());
        QCOMPARE(h.Form().DialogFolder("FitMeasurement"), root.filePath("rooms"));
        QCOMPARE(h.Form().DialogFolder("FitTarget"), root.filePath("targets"));
        QCOMPARE(h.Form().DialogFolder("Compare"), root.filePath("presets"));

        h.Stop();
        h.keepSettings = true;
        h.Start();
        asked.clear();
        useAll();
        QCOMPARE(int(asked.size()), 3);
        QCOMPARE(asked[0].Folder, root.filePath("rooms"));
        QCOMPARE(asked[1].Folder, root.filePath("targets"));
        QCOMPARE(asked[2].Folder, root.filePath("presets"));
    }
};

QTEST_MAIN(BoxesAndSettingsTest)
#include "BoxesAndSettingsTest.moc"
