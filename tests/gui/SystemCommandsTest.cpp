// The main window's commands: Connect with AUTO, device arrival and removal,
// write-all, read-all, storing and recalling slots, and the preset files.

#include "support/GuiHarness.h"

#include "app/Theme.h"

#ifdef _WIN32
#include "device/platform/WindowsDeviceWatcher.h"

#include <windows.h>

#include <dbt.h>
extern "C" { // MinGW's hidsdi.h declares its functions without C linkage
#include <hidsdi.h>
}
#else
#include "device/platform/DeviceWatcher.h"
#endif
#include "params/Commands.h"
#include "presets/DapFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace ktv;
using namespace ktv::test;
using Event = RecordingUi::Event;

namespace {

// The in-process box the harness opens.
constexpr const char* BoxPath = InProcessBox::DefaultInstanceId;

std::uint8_t Command(const Bytes& payload) { return payload.empty() ? 0 : payload[0]; }

// The nine requests of a write-all, as command byte and first band.
std::vector<std::pair<int, int>> Shape(const std::vector<Bytes>& requests)
{
    std::vector<std::pair<int, int>> shape;
    for (const Bytes& p : requests)
        shape.emplace_back(p[0], p[0] == 0x20 ? p[1] * 100 + p[2] : -1);
    return shape;
}

const std::vector<std::pair<int, int>> WriteAllShape{{0x01, -1},  {0x02, -1},  {0x20, 6},    {0x20, 606},
                                                     {0x20, 1206}, {0x20, 1806}, {0x20, 2406}, {0x20, 3006},
                                                     {0x20, 3603}};

#ifdef _WIN32
// The window as the system sees it: its native event handler.
struct NativeForm : TFormMain {
    using TFormMain::TFormMain;
    bool Native(MSG& msg, qintptr& result) { return nativeEvent("windows_generic_MSG", &msg, &result); }
};

// A HID interface's WM_DEVICECHANGE data, as the system sends it.
std::vector<std::uint8_t> HidBroadcast(const std::wstring& name, bool hidClass = true)
{
    std::vector<std::uint8_t> bytes(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + name.size() * sizeof(wchar_t));
    auto* b = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    b->dbcc_size = DWORD(bytes.size());
    b->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&b->dbcc_classguid);
    if (!hidClass)
        b->dbcc_classguid.Data1 ^= 1;
    std::copy(name.begin(), name.end(), b->dbcc_name);
    return bytes;
}
#endif

} // namespace

class SystemCommandsTest : public QObject {
    Q_OBJECT
    GuiHarness h;
    QTemporaryDir* dir = nullptr; // the window's working folder

    QPushButton* Button(const char* name) { return h.Find<QPushButton>(name); }
    QComboBox* Combo(const char* name) { return h.Find<QComboBox>(name); }
    std::vector<std::string>& Messages() { return h.ui.rec.messages; }
    QString PathOf(const char* name) { return QDir(dir->path()).filePath(name); }

private slots:
    void init()
    {
        h.inTempFolder = true;
        h.Start();
        dir = h.workDir.get();
    }
    void cleanup() { h.Stop(); }

    // ---- Connect and device events ----

    void connectLinksAndASecondClickDisconnects()
    {
        h.Form().ConnectBitBtnClick();
        QVERIFY(Hid().Linked);
        QCOMPARE(h.Form().StatusText(0), QString("Connect:ok!"));
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{{0x2A, 1}}));
        QVERIFY(Messages().empty()); // AUTO unticked: nothing read
        QVERIFY(ConnectGlyph(0).toImage() != ConnectGlyph(1).toImage());
        QVERIFY(ShowsConnectGlyph(Button("ConnectBitBtn"), 1));

        Button("ConnectBitBtn")->click();
        QVERIFY(!Hid().Linked);
        QVERIFY(!Hid().Opened);
        QCOMPARE(h.Form().StatusText(0), QString("Connect:no!"));
        QCOMPARE(h.TakeRequests(), (std::vector<Bytes>{{0x2A, 0}}));
        QVERIFY(ShowsConnectGlyph(Button("ConnectBitBtn"), 0));
    }

    void aBoxThatDiesIsARemovalAtOnceAndOneConnectLinksItsReplacement()
    {
        h.Form().ConnectBitBtnClick();
        QVERIFY(Hid().Linked);
        h.ClearTraffic();
        // Killed: no removal is reported, the connection just hangs up.
        h.box->Die();
        QTRY_VERIFY_WITH_TIMEOUT(!Hid().Linked, 2000);
        QCOMPARE(Messages(), std::vector<std::string>{"DSP USB Plugout!"});
        QCOMPARE(h.Form().StatusText(0), QString("Connect:no!"));
        QVERIFY(ShowsConnectGlyph(Button("ConnectBitBtn"), 0));
        QVERIFY(h.TakeRequests().empty());

        // Another box in its place: one press links it.
        h.box->Replace();
        Button("ConnectBitBtn")->click();
        QVERIFY(Hid().Linked);
        QCOMPARE(h.Form().StatusText(0), QString("Connect:ok!"));
        QCOMPARE(h.box->Box.ReceivedPayloads(), (std::vector<Bytes>{{0x2A, 1}}));
    }

    void connectWithoutABox()
    {
        Hid().CloseDevice();
        h.box->Present = false;
        h.Find<QCheckBox>("CheckBoxAuto")->setChecked(true); // a failed connect reads nothing
        h.Form().ConnectBitBtnClick();
        QCOMPARE(Messages(), std::vector<std::string>{"no usb device 2"});
        QCOMPARE(h.Form().StatusText(0), QString("Connect:no!"));
        QVERIFY(ShowsConnectGlyph(Button("ConnectBitBtn"), 0));
        QVERIFY(h.TakeRequests().empty());
        QVERIFY(!Hid().Linked);
        QVERIFY(!Hid().Opened);
    }

    void connectToASilentBoxClosesIt()
    {
        h.session->FailFrom(1);
        h.Form().ConnectBitBtnClick();
        QVERIFY(!Hid().Linked);
        QVERIFY(!Hid().Opened);
        QCOMPARE(h.Form().StatusText(0), QString("Connect:no!"));
        QCOMPARE(h.Form().StatusText(1), QString("Read:fault!"));
    }

    void connectWithAutoReadsTheBox()
    {
        h.box->Box.Current.System[1] = 0; // nothing special: the box's own image
        DspParams.Band[0].Gain = 7.0f;    // differs from the box
        h.Find<QCheckBox>("CheckBoxAuto")->setChecked(true);
        h.Form().ConnectBitBtnClick();
        const auto requests = h.TakeRequests();
        QVERIFY(requests.size() > 2);
        QCOMPARE(requests[0], (Bytes{0x2A, 1}));
        QCOMPARE(int(Command(requests[1])), 0x81);
        QCOMPARE(Messages(), std::vector<std::string>{"Read dsp ok!"});
        QCOMPARE(DspParams.Band[0].Gain, 0.0f);
        QCOMPARE(h.Find<QLineEdit>("FGainEdit1")->text(), QString("0.0"));
    }

    void deviceEventsOfTheBox()
    {
        h.Form().ConnectBitBtnClick();
        h.ClearTraffic();
        h.Form().DeviceChange(DeviceEventKind::Arrival, BoxPath);
        QCOMPARE(Messages(), std::vector<std::string>{"DSP USB Plugin!"});
        QCOMPARE(h.Form().StatusText(0), QString("Connect:ok!"));
        QVERIFY(Hid().Linked);

        // Another device, or the identifier in lower case: nothing.
        Messages().clear();
        h.Form().DeviceChange(DeviceEventKind::Removal, "HID\\VID_046D&PID_C077\\/dev/hidraw1");
        h.Form().DeviceChange(DeviceEventKind::Arrival, "HID\\vid_2b5e&pid_61d3\\/dev/hidraw4");
        h.Form().DeviceChange(DeviceEventKind::Removal, "HID\\vid_2b5e&pid_61d3\\/dev/hidraw4");
        QVERIFY(Messages().empty());
        QVERIFY(Hid().Linked);

        h.Form().DeviceChange(DeviceEventKind::Removal, BoxPath);
        QCOMPARE(Messages(), std::vector<std::string>{"DSP USB Plugout!"});
        QVERIFY(!Hid().Linked);
        QVERIFY(!Hid().Opened);
        QCOMPARE(h.Form().StatusText(0), QString("Connect:no!"));
        QVERIFY(ShowsConnectGlyph(Button("ConnectBitBtn"), 0));
        QVERIFY(h.TakeRequests().empty());

        // Afterwards every command fails until the next Connect.
        h.Find<QSlider>("TrackBarEffectVol")->setValue(5);
        QCOMPARE(h.Form().StatusText(1), QString("Write:fault!"));
    }

    void removalWhileNotConnectedStillReports()
    {
        h.Form().DeviceChange(DeviceEventKind::Removal, BoxPath);
        QCOMPARE(Messages(), std::vector<std::string>{"DSP USB Plugout!"});
        QCOMPARE(h.Form().StatusText(0), QString("Connect:no!"));
    }

#ifdef _WIN32
    void theWindowIsRegisteredWithTheWatcherUntilItCloses()
    {
        // The offscreen window has no system window for device notification;
        // the virtual-box folder is watched all the same.
        QTemporaryDir boxes;
        DeviceWatcher watcher(boxes.path().toStdString());
        auto form = std::make_unique<TFormMain>(nullptr, &watcher);
        QVERIFY(watcher.Registered());
        QVERIFY(watcher.FolderChangeHandle());
        form->close();
        QVERIFY(!watcher.Registered());
        form.reset();
    }

    void deviceMessagesReachThePresenceHandling()
    {
        // WM_DEVICECHANGE through the window's native event handler: a box's
        // arrival and removal are reported as on Linux; other classes and
        // other messages go on to Qt.
        // The offscreen window has no system window to register: a
        // message-only one stands in, registered before the window takes
        // the watcher over.
        QTemporaryDir boxes;
        DeviceWatcher watcher(boxes.path().toStdString());
        const HWND system = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        QVERIFY(system);
        QVERIFY(watcher.Register(system, {}));
        NativeForm form(nullptr, &watcher);
        const std::wstring box = L"\\\\?\\hid#vid_2b5e&pid_61d3#7&1a2b3c&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
        auto data = HidBroadcast(box);
        auto foreign = HidBroadcast(box, false);
        MSG msg{};
        msg.message = WM_DEVICECHANGE;
        qintptr result = 0;

        msg.wParam = DBT_DEVICEARRIVAL;
        msg.lParam = LPARAM(foreign.data());
        QVERIFY(!form.Native(msg, result));
        msg.lParam = LPARAM(data.data());
        QVERIFY(form.Native(msg, result));
        QCOMPARE(result, qintptr(TRUE));
        QCOMPARE(Messages(), std::vector<std::string>{"DSP USB Plugin!"});

        msg.wParam = DBT_DEVICEREMOVECOMPLETE;
        QVERIFY(form.Native(msg, result));
        QCOMPARE(Messages(), (std::vector<std::string>{"DSP USB Plugin!", "DSP USB Plugout!"}));

        msg.message = WM_SIZE;
        QVERIFY(!form.Native(msg, result));
        form.close();
        QVERIFY(!watcher.Registered());
        DestroyWindow(system);
    }
#else
    void deviceEventsArriveThroughTheEventLoop()
    {
        // A window built with a watcher over its own virtual-box directory:
        // a box socket appearing and leaving reaches it as the event loop runs.
        QTemporaryDir boxes;
        DeviceWatcher watcher(boxes.path().toStdString());
        watcher.UseUdev = false;
        auto form = std::make_unique<TFormMain>(nullptr, &watcher);
        QVERIFY(watcher.Registered());

        const QString socket = QDir(boxes.path()).filePath("box-w.sock");
        QFile other(QDir(boxes.path()).filePath("notes.txt"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        QFile file(socket);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QTRY_COMPARE(Messages(), std::vector<std::string>{"DSP USB Plugin!"});

        QVERIFY(QFile::remove(socket));
        QTRY_COMPARE(Messages(), (std::vector<std::string>{"DSP USB Plugin!", "DSP USB Plugout!"}));
        QCOMPARE(h.ui.rec.status[0], std::string("Connect:no!"));
        QVERIFY(!Hid().Opened);

        // Closed: the window no longer listens.
        form->close();
        QVERIFY(!watcher.Registered());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QTest::qWait(50);
        QCOMPARE(Messages().size(), std::size_t(2));
        form.reset();
    }
#endif

    // ---- whole image ----

    void writeToDspSendsNineRequestsUnderTheBusyCursor()
    {
        Button("UpdatePc2Dsp")->click();
        QCOMPARE(Shape(h.TakeRequests()), WriteAllShape);
        QCOMPARE(Messages(), std::vector<std::string>{"Write dsp ok!"});
        QCOMPARE(h.ui.rec.sleeps, std::vector<int>(8, 20));
        const auto& events = h.ui.rec.events;
        QCOMPARE(int(events.front().kind), int(Event::Busy));
        QCOMPARE(events.front().value, 1);
        QCOMPARE(int(events.back().kind), int(Event::Busy));
        QCOMPARE(events.back().value, 0);
        QCOMPARE(int(events[events.size() - 2].kind), int(Event::Message));
    }

    void writeToDspStopsAtTheFirstFailure()
    {
        h.session->FailFrom(5); // the third band request
        Button("UpdatePc2Dsp")->click();
        QCOMPARE(h.TakeRequests().size(), std::size_t(5));
        QCOMPARE(Messages(), std::vector<std::string>{"Write dsp fault!"});
        QCOMPARE(h.ui.rec.events.back().value, 0);
    }

    void readFromDspRefreshesTheWindow()
    {
        DspParams.MusicVol = 30;
        DspParams.Band[2].Gain = 5.0f;
        QVERIFY(WriteAllToDevice());
        DspParams.MusicVol = 0;
        DspParams.Band[2].Gain = 0.0f;
        h.ClearTraffic();
        h.ui.rec.Clear();

        Button("UpdateDsp2Pc")->click();
        QCOMPARE(Messages(), std::vector<std::string>{"Read dsp ok!"});
        QCOMPARE(DspParams.Band[2].Gain, 5.0f);
        QCOMPARE(h.Find<QLineEdit>("FGainEdit3")->text(), QString("5.0"));
        QCOMPARE(h.Find<QSlider>("TrackBarMusicVol")->value(), 30);
        QCOMPARE(h.Find<CaptionPanel>("PanelMusicVol")->Caption(), QString("Music:30"));
        // The moved bar sent its request after the nine reads.
        const auto requests = h.TakeRequests();
        QCOMPARE(requests.back(), (Bytes{0x1F, 0, 30, 0}));
        QCOMPARE(h.ui.rec.events.front().value, 1);
        QCOMPARE(h.ui.rec.events.back().value, 0);
    }

    void readFromDspFailureRefreshesNothing()
    {
        DspParams.Band[2].Gain = 4.0f; // not shown yet
        h.session->FailFrom(1);
        Button("UpdateDsp2Pc")->click();
        QCOMPARE(Messages(), std::vector<std::string>{"Read dsp fault!"});
        QCOMPARE(h.Find<QLineEdit>("FGainEdit3")->text(), QString("0.0"));
    }

    void storingASlotAsksThenWritesAllThenTheSlot()
    {
        Combo("ComboBoxSave")->setEditText("8");
        // Asked first: what the slot holds is replaced. "No", or closing the
        // question, sends nothing.
        h.ui.rec.answers = {1, -1};
        Button("BitBtnSave")->click();
        Button("BitBtnSave")->click();
        const std::vector<std::string> question{"Replace slot 8 with the window's settings?", "Yes", "No"};
        QCOMPARE(h.ui.rec.questions, (std::vector<std::vector<std::string>>{question, question}));
        QVERIFY(h.TakeRequests().empty());
        QVERIFY(Messages().empty());

        h.ui.rec.answers = {0};
        Button("BitBtnSave")->click();
        auto requests = h.TakeRequests();
        QCOMPARE(requests.size(), std::size_t(10));
        QCOMPARE(requests.back(), (Bytes{0x28, 1, 8}));
        requests.pop_back();
        QCOMPARE(Shape(requests), WriteAllShape);
        QCOMPARE(Messages(), std::vector<std::string>{"Set factory mode ok!"});

        // A failing write-all sends no FactoryMode.
        Messages().clear();
        h.session->FailFrom(2);
        h.ui.rec.answers = {0};
        Button("BitBtnSave")->click();
        QCOMPARE(h.TakeRequests().size(), std::size_t(2));
        QCOMPARE(Messages(), std::vector<std::string>{"Set factory mode fault!"});
    }

    void recallingASlotReadsItBackAndRefreshes()
    {
        // Slot 3 holds a tuning the window then moves away from.
        DspParams.Band[0].Gain = 3.0f;
        DspParams.Dyn[0].Threshold = -150;
        DspParams.MicVol = 40;
        Combo("ComboBoxSave")->setEditText("3");
        h.ui.rec.answers = {0};
        Button("BitBtnSave")->click();
        DspParams.Band[0].Gain = 0.0f;
        DspParams.Dyn[0].Threshold = 0;
        DspParams.MicVol = 0;
        h.ClearTraffic();
        h.ui.rec.Clear();

        Combo("ComboBoxRecall")->setEditText("3");
        // Asked first; "No" sends nothing.
        h.ui.rec.answers = {1};
        Button("BitBtnRecall")->click();
        const std::vector<std::vector<std::string>> asked{{"Replace the box's settings with slot 3?", "Yes", "No"}};
        QCOMPARE(h.ui.rec.questions, asked);
        QVERIFY(h.TakeRequests().empty());
        QVERIFY(Messages().empty());
        h.ui.rec.answers = {-1}; // closed: as "No"
        Button("BitBtnRecall")->click();
        QVERIFY(h.TakeRequests().empty());
        h.ui.rec.answers = {0};
        Button("BitBtnRecall")->click();
        QCOMPARE(h.ui.rec.questions.size(), std::size_t(3));
        const auto requests = h.TakeRequests();
        QCOMPARE(requests.front(), (Bytes{0x28, 2, 3}));
        QCOMPARE(int(Command(requests[1])), 0x81);
        QCOMPARE(h.ui.rec.sleeps.front(), 100);
        QCOMPARE(Messages(), std::vector<std::string>{"Reset factory mode Ok!"});
        QCOMPARE(DspParams.Band[0].Gain, 3.0f);
        // The rows, the settings page and the volume bars show the slot, as
        // after "Read from dsp".
        QCOMPARE(h.Find<QLineEdit>("FGainEdit1")->text(), QString("3.0"));
        QCOMPARE(h.Find<QSlider>("TrackBarMicTH")->value(), -150);
        QCOMPARE(h.Find<QLabel>("LabelMicTH")->text(), QString("-15dB"));
        QCOMPARE(h.Find<QSlider>("TrackBarMicVol")->value(), 40);
        QCOMPARE(h.Find<CaptionPanel>("PanelMicVol")->Caption(), QString("Mic:40"));
    }

    void slotCommandFailures_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("failingRequest");
        QTest::addColumn<int>("requestsSent");
        QTest::addColumn<QString>("message");
        // Recall: FactoryMode (2, 1) unanswered, then a read-all failing midway.
        QTest::newRow("recall command") << "BitBtnRecall" << 1 << 1 << "Reset factory mode fault!";
        QTest::newRow("recall read-all") << "BitBtnRecall" << 4 << 4 << "Reset factory mode fault!";
        // Store: the write-all goes through, FactoryMode (1, 1) is unanswered.
        QTest::newRow("store command") << "BitBtnSave" << 10 << 10 << "Set factory mode fault!";
    }
    void slotCommandFailures()
    {
        QFETCH(QString, button);
        QFETCH(int, failingRequest);
        QFETCH(int, requestsSent);
        QFETCH(QString, message);
        h.session->FailFrom(failingRequest);
        h.ui.rec.answers = {0};
        Button(qPrintable(button))->click();
        const auto requests = h.TakeRequests();
        QCOMPARE(int(requests.size()), requestsSent);
        const Bytes slotRequest{0x28, std::uint8_t(button == "BitBtnSave" ? 1 : 2), 1};
        QCOMPARE(requests[button == "BitBtnSave" ? 9 : 0], slotRequest);
        QCOMPARE(Messages(), std::vector<std::string>{message.toStdString()});
        QCOMPARE(h.ui.rec.events.back().value, 0);
        QCOMPARE(int(h.ui.rec.events.back().kind), int(Event::Busy));
    }

    void slotTextsThatDoNotPass_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("recall 9") << "BitBtnRecall" << "ComboBoxRecall" << "9" << "Reset factory mode error!";
        QTest::newRow("recall letter") << "BitBtnRecall" << "ComboBoxRecall" << "x" << "'x' is not a valid integer value";
        QTest::newRow("recall empty") << "BitBtnRecall" << "ComboBoxRecall" << "" << "'' is not a valid integer value";
        QTest::newRow("store 9") << "BitBtnSave" << "ComboBoxSave" << "9" << "Set factory mode error!";
        QTest::newRow("store minus") << "BitBtnSave" << "ComboBoxSave" << "-" << "'-' is not a valid integer value";
    }
    void slotTextsThatDoNotPass()
    {
        QFETCH(QString, button);
        QFETCH(QString, combo);
        QFETCH(QString, text);
        QFETCH(QString, message);
        Combo(qPrintable(combo))->setEditText(text);
        Button(qPrintable(button))->click();
        QCOMPARE(Messages(), std::vector<std::string>{message.toStdString()});
        QVERIFY(h.TakeRequests().empty());
        for (const Event& e : h.ui.rec.events)
            QVERIFY(e.kind != Event::Busy);
    }

    void slotZeroIsRefused()
    {
        // The recall box filters nothing: a typed 0 reaches the button.
        for (auto [combo, button, message] : {std::tuple{"ComboBoxRecall", "BitBtnRecall", "Reset factory mode error!"},
                                              std::tuple{"ComboBoxSave", "BitBtnSave", "Set factory mode error!"}}) {
            Messages().clear();
            Combo(combo)->setEditText("0");
            Button(button)->click();
            QCOMPARE(Messages(), std::vector<std::string>{message});
            QVERIFY(h.TakeRequests().empty());
        }
    }

    void storeSlotBoxTakesOnlyOneToEight()
    {
        QComboBox* box = Combo("ComboBoxSave");
        QLineEdit* edit = box->lineEdit();
        QTest::keyClicks(edit, "9");
        QTest::keyClicks(edit, "0");
        QTest::keyClicks(edit, "a");
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(box->currentText(), QString("1"));
        QTest::keyClicks(edit, "5");
        QCOMPARE(box->currentText(), QString("5"));
        box->hidePopup();
    }

    void storeSlotBoxFiltersKeysTypedIntoTheWindow()
    {
        // Keys go to the focused widget as they do for a user, not straight
        // to the box's edit.
        QComboBox* box = Combo("ComboBoxSave");
        h.SelectTab(7);
        h.Form().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.Form()));
        box->setFocus();
        QVERIFY(box->hasFocus());
        QWindow* window = h.Form().windowHandle();
        box->setEditText("2");
        for (Qt::Key key : {Qt::Key_9, Qt::Key_0, Qt::Key_A, Qt::Key_Space, Qt::Key_Backspace})
            QTest::keyClick(window, key);
        QCOMPARE(box->currentText(), QString("2"));
        QVERIFY(!box->view()->isVisible());

        QTest::keyClick(window, Qt::Key_7);
        QCOMPARE(box->currentText(), QString("7"));
        QVERIFY(box->view()->isVisible()); // drops down as the user types
        box->hidePopup();

        // Only the store box is filtered: the recall box takes any character.
        QComboBox* recall = Combo("ComboBoxRecall");
        recall->setFocus();
        recall->setEditText("");
        QTest::keyClick(window, Qt::Key_9);
        QCOMPARE(recall->currentText(), QString("9"));
    }

    // ---- presets ----

    void saveAppendsTheExtensionOnlyWhenMissing()
    {
        for (const char* typed : {"live", "other.dap", "LOUD.DAP"}) {
            h.Form().Files().Choose = [&](const FileQuestion&) { return PathOf(typed); };
            h.Form().Save1Click();
        }
        QVERIFY(QFile::exists(PathOf("live.dap")));
        QVERIFY(QFile::exists(PathOf("other.dap")));
        QVERIFY(!QFile::exists(PathOf("other.dap.dap")));
        QVERIFY(QFile::exists(PathOf("LOUD.DAP")));
        QCOMPARE(QFile(PathOf("live.dap")).size(), qint64(DapFileSize));
        QVERIFY(Messages().empty());
        QVERIFY(h.TakeRequests().empty());

        // Cancelled: nothing.
        h.Form().Files().Choose = [](const FileQuestion&) { return QString(); };
        h.Form().Save1Click();
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files).size(), 3);
    }

    void saveThatCannotWriteSaysSo()
    {
        h.Form().Files().Choose = [&](const FileQuestion&) { return PathOf("missing-folder/live"); };
        h.Form().Save1Click();
        QCOMPARE(Messages().size(), std::size_t(1));
        QVERIFY(QString::fromStdString(Messages()[0]).contains("live.dap"));
    }

    void openLoadsRefreshesAndWritesAll()
    {
        DspParams.Band[1].Gain = -6.0f;
        DspParams.MaxVol[1] = 40;
        QVERIFY(WriteDapFile(PathOf("a.dap").toStdString()));
        DspParams.Band[1].Gain = 0.0f;
        DspParams.MaxVol[1] = 100;

        h.Form().Files().Choose = [&](const FileQuestion&) { return PathOf("a.dap"); };
        h.Form().Open1Click();
        QCOMPARE(DspParams.Band[1].Gain, -6.0f);
        QCOMPARE(h.Find<QLineEdit>("FGainEdit2")->text(), QString("-6.0"));
        QCOMPARE(h.Find<QSlider>("TrackBarMusicMaxVol")->value(), 40);
        QCOMPARE(Messages(), std::vector<std::string>{"Write dsp ok!"});
        // Single requests of the refreshed controls, then the write-all.
        auto requests = h.TakeRequests();
        QVERIFY(requests.size() >= 9);
        std::vector<Bytes> tail(requests.end() - 9, requests.end());
        QCOMPARE(Shape(tail), WriteAllShape);
        QCOMPARE(h.ui.rec.events.back().value, 0);

        // Cancelled: nothing.
        h.ui.rec.Clear();
        h.Form().Files().Choose = [](const FileQuestion&) { return QString(); };
        h.Form().Open1Click();
        QVERIFY(Messages().empty());
        QVERIFY(h.TakeRequests().empty());
    }

    void aRejectedPresetChangesAndSendsNothing()
    {
        QFile bad(PathOf("bad.dap"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(DapFileSize, 'x'));
        bad.close();
        const DspParamsImage before = DspParams;
        h.Form().Files().Choose = [&](const FileQuestion&) { return PathOf("bad.dap"); };
        h.Form().Open1Click();
        QCOMPARE(Messages().size(), std::size_t(1));
        const QString message = QString::fromStdString(Messages()[0]);
        QVERIFY2(message.contains("bad.dap") && message.contains("marker"), qPrintable(message));
        QVERIFY(h.TakeRequests().empty());
        QCOMPARE(DspParams.Band[5].Fc, before.Band[5].Fc);
        QCOMPARE(DspParams.MaxVol, before.MaxVol);
    }

    void fileListCommands()
    {
        auto* list = h.Find<QListWidget>("FileListBox1");
        QCOMPARE(h.Form().PresetDirectory(), dir->path());
        QCOMPARE(list->count(), 0);

        Button("Button1")->click();
        QCOMPARE(Messages(), std::vector<std::string>{"File name error!"});
        Button("Button2")->click();
        QCOMPARE(Messages().size(), std::size_t(2));
        QVERIFY(h.TakeRequests().empty());

        // Saved through the menu: listed after Refresh only.
        h.Form().Files().Choose = [&](const FileQuestion&) { return PathOf("b"); };
        h.Form().Save1Click();
        h.Form().Files().Choose = [&](const FileQuestion&) { return PathOf("a"); };
        h.Form().Save1Click();
        QCOMPARE(list->count(), 0);
        Button("ButtonResh")->click();
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QString("a.dap"));
        QVERIFY(!list->item(0)->icon().isNull());

        // Save to file rewrites the selected file with the image.
        list->setCurrentRow(1);
        DspParams.Band[3].Fc = 1500.0f;
        h.ui.rec.answers = {0}; // "Yes" to replacing it
        Button("Button1")->click();
        DspParams.Band[3].Fc = 1000.0f;
        Messages().clear();

        // Recall from file loads it and writes all.
        Button("Button2")->click();
        QCOMPARE(DspParams.Band[3].Fc, 1500.0f);
        QCOMPARE(h.Find<QLineEdit>("FcEdit4")->text(), QString("1500.0"));
        QCOMPARE(Messages(), std::vector<std::string>{"Write dsp ok!"});
        auto requests = h.TakeRequests();
        QVERIFY(requests.size() >= 9);
    }

    // A pipe nobody writes to, a folder or a device named as a preset is
    // refused with the reason, without waiting and without sending anything;
    // the same through the file list when a listed preset was replaced.
    void whatIsNotAPresetFileIsRefusedWithTheReason()
    {
#ifdef _WIN32
        // Windows keeps no pipes among files: a device's name stands in.
        const QString pipe = PathOf("con.dap");
        const QString device = "NUL";
#else
        const QString pipe = PathOf("pipe.dap");
        const QString device = "/dev/zero";
        QVERIFY(mkfifo(pipe.toLocal8Bit().constData(), 0600) == 0);
#endif
        QVERIFY(QDir(dir->path()).mkdir("folder.dap"));
        const DspParamsImage before = DspParams;
        struct Case {
            QString path;
            const char* reason;
        };
        const Case cases[] = {
            {pipe, "it is not a regular file"},
            {PathOf("folder.dap"), "it is a directory"},
            {device, "it is not a regular file"},
        };
        for (const Case& c : cases) {
            Messages().clear();
            h.Form().Files().Choose = [&](const FileQuestion&) { return c.path; };
            h.Form().Open1Click();
            QCOMPARE(Messages().size(), std::size_t(1));
            const QString message = QString::fromStdString(Messages()[0]);
            QVERIFY2(message.contains(c.reason), qPrintable(message));
        }
        QVERIFY(h.TakeRequests().empty());
        QCOMPARE(DspParams.MaxVol, before.MaxVol);

        // Listed as a preset, then replaced by a pipe before Recall.
        h.Form().Files().Choose = [&](const FileQuestion&) { return PathOf("listed"); };
        h.Form().Save1Click();
        Button("ButtonResh")->click();
        auto* list = h.Find<QListWidget>("FileListBox1");
        QCOMPARE(list->count(), 1);
        list->setCurrentRow(0);
        QVERIFY(QFile::remove(PathOf("listed.dap")));
#ifdef _WIN32
        QVERIFY(QDir(dir->path()).mkdir("listed.dap"));
        const char* replacedReason = "it is a directory";
#else
        QVERIFY(mkfifo(PathOf("listed.dap").toLocal8Bit().constData(), 0600) == 0);
        const char* replacedReason = "it is not a regular file";
#endif
        Messages().clear();
        Button("Button2")->click();
        QCOMPARE(Messages().size(), std::size_t(1));
        QVERIFY2(QString::fromStdString(Messages()[0]).contains(replacedReason), Messages()[0].c_str());
        QVERIFY(h.TakeRequests().empty());

        // Saving over a pipe or a folder is refused and leaves them as they are.
        for (const QString& path : {pipe, PathOf("folder.dap")}) {
            Messages().clear();
            h.Form().Files().Choose = [&](const FileQuestion&) { return path; };
            h.Form().Save1Click();
            QCOMPARE(Messages().size(), std::size_t(1));
            QVERIFY2(QString::fromStdString(Messages()[0]).contains("Preset not saved"), Messages()[0].c_str());
        }
        QVERIFY(QFileInfo(PathOf("folder.dap")).isDir());
        QVERIFY(!QFileInfo(pipe).isFile());
    }

    void loadingWithoutABoxStillUpdatesTheWindow()
    {
        DspParams.Band[0].Q = 2.0f;
        QVERIFY(WriteDapFile(PathOf("q.dap").toStdString()));
        DspParams.Band[0].Q = 0.7f;
        Hid().CloseDevice();
        h.box->Present = false;
        h.Form().Files().Choose = [&](const FileQuestion&) { return PathOf("q.dap"); };
        h.Form().Open1Click();
        QCOMPARE(h.Find<QLineEdit>("FQEdit1")->text(), QString("2.0"));
        QCOMPARE(Messages(), std::vector<std::string>{"Write dsp fault!"});
    }
};

QTEST_MAIN(SystemCommandsTest)
#include "SystemCommandsTest.moc"
