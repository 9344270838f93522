// The window with several boxes present (Connect asks which one, the status
// bar names it) and what it remembers from one run to the next.

#include "support/GuiHarness.h"

#include "app/Settings.h"
#include "device/platform/DeviceWatcher.h"
#include "params/BoxLink.h"
#include "sim/InProcessBox.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
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
        h.Form().ChooseBox = [this](const QStringList& identifiers) {
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
        f->ChooseOpenFile = [&] { return badPreset; };
        f->Open1Click();
        f->ChooseSaveFile = [&] { return root.filePath("saved/live"); };
        f->Save1Click();
        QVERIFY(QFile::exists(root.filePath("saved/live.dap")));
        f->ChooseFolder = [&] { return root.filePath("presets"); };
        f->ButtonFolderClick();
        // The filter and chart dialogs each keep their own folder.
        QStringList asked;
        f->ChooseFile = [&](const QString& dialog, const QString&, const QString&, QString*, bool) {
            asked << dialog;
            return root.filePath(dialog == "Import" ? "filters/room.txt" : "charts/mic.png");
        };
        f->ImportFiltersClick();
        f->ExportChartClick();
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
};

QTEST_MAIN(BoxesAndSettingsTest)
#include "BoxesAndSettingsTest.moc"
