// Where the window could lose a tuning or hide a failure: the first edit on a
// box nobody has read, a read failing half-way, a failed edit, a box that
// dies, overwriting a preset, the wheel over a control, the preset order.

#include "support/GuiHarness.h"

#ifdef _WIN32
#include "device/platform/WindowsDeviceWatcher.h"
#else
#include "device/platform/DeviceWatcher.h"
#endif
#ifndef _WIN32
#include "device/platform/LinuxHidPlatform.h"
#include "device/platform/PlatformHelpers.h"
#endif
#include "params/BoxLink.h"
#include "params/Commands.h"
#include "presets/DapFile.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QGroupBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <QWheelEvent>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using namespace ktv;
using namespace ktv::test;

namespace {

using Requests = std::vector<Bytes>;

// The nine requests of a read-all.
const Requests ReadAllRequests{{0x81},        {0x82},        {0xA0, 0, 6},  {0xA0, 6, 6},  {0xA0, 12, 6},
                               {0xA0, 18, 6}, {0xA0, 24, 6}, {0xA0, 30, 6}, {0xA0, 36, 3}};

Requests Concat(Requests a, const Requests& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

#ifndef _WIN32
// A virtual box answering on a socket from a thread, as ktvtune-box does.
// Kill() ends it the way a crash does: its connections close, the socket file
// stays behind.
class SocketBox {
public:
    explicit SocketBox(const std::string& path)
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        ::unlink(path.c_str()); // what a killed box left
        listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        bound_ = bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(listener_, 4) == 0;
        thread_ = std::thread([this] { Serve(); });
    }
    ~SocketBox() { Kill(); }
    bool Bound() const { return bound_; }

    void Kill()
    {
        if (!thread_.joinable())
            return;
        killed_ = true;
        shutdown(listener_, SHUT_RDWR);
        {
            std::lock_guard lock(mutex_);
            if (conn_ >= 0)
                shutdown(conn_, SHUT_RDWR);
        }
        thread_.join();
        close(listener_);
    }

    Requests Received()
    {
        std::lock_guard lock(mutex_);
        return box_.ReceivedPayloads();
    }

private:
    void Serve()
    {
        // Each connection in turn: the platform's listener probe comes first.
        while (!killed_) {
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            {
                std::lock_guard lock(mutex_);
                conn_ = fd;
            }
            std::uint8_t report[ReportSize];
            ssize_t n;
            while (!killed_ && (n = recv(fd, report, sizeof report, 0)) > 0) {
                std::vector<std::uint8_t> reply;
                {
                    std::lock_guard lock(mutex_);
                    reply = box_.Handle(report, std::size_t(n));
                }
                if (!reply.empty())
                    send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
            std::lock_guard lock(mutex_);
            close(fd);
            conn_ = -1;
        }
    }

    VirtualBox box_;
    int listener_ = -1;
    int conn_ = -1;
    bool bound_ = false;
    std::atomic<bool> killed_ = false;
    std::mutex mutex_;
    std::thread thread_;
};
#endif

} // namespace

class WindowGuardsTest : public QObject {
    Q_OBJECT
    GuiHarness h;
    QTemporaryDir* dir = nullptr; // the window's working folder

    template <class T> T* Find(const char* name) { return h.Find<T>(name); }
    std::vector<std::string>& Messages() { return h.ui.rec.messages; }
    QLabel* ExchangePanel() { return Find<QLabel>("StatusPanel1"); }
    void Click(const char* button) { Find<QPushButton>(button)->click(); }

private slots:
    void init()
    {
        h.inTempFolder = true;
        h.Start();
        dir = h.workDir.get();
    }
    void cleanup() { h.Stop(); }

    void firstEditAfterAnUnreadLink_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("readFails");
        QTest::newRow("read from box") << AnswerReadFirst << false;
        QTest::newRow("read from box, the read fails") << AnswerReadFirst << true;
        QTest::newRow("send my change") << AnswerSendChange << false;
        QTest::newRow("cancel") << AnswerCancel << false;
        QTest::newRow("closed: as cancel") << -1 << false;
    }
    void firstEditAfterAnUnreadLink()
    {
        QFETCH(int, answer);
        QFETCH(bool, readFails);
        // The box holds volumes the window has never seen.
        h.box->Box.Current.System[1] = 40;
        h.box->Box.Current.System[2] = 50;
        h.box->Box.Current.System[3] = 60;
        const std::uint8_t boxFbx = h.box->Box.Current.System[23];
        h.Form().ConnectBitBtnClick(); // AUTO unticked: nothing is read
        QCOMPARE(h.TakeRequests(), (Requests{{0x2A, 1}}));

        Requests sentWhileAsking{{0xFF}};
        h.ui.rec.whileAsking = [&] {
            // Another edit while the question is open: not sent, not asked.
            Find<QSlider>("TrackBarFS")->setValue(boxFbx + 1);
            sentWhileAsking = h.TakeRequests();
        };
        h.ui.rec.answers = {answer};
        if (readFails)
            h.session->FailFrom(1); // the question's read
        const std::uint8_t windowFbx = DspParams.Fbx;
        Find<QSlider>("TrackBarMicVol")->setValue(30);
        h.ui.rec.whileAsking = nullptr;

        const std::vector<std::vector<std::string>> asked{
            {UnreadQuestion, AnswerReadFirstText, AnswerSendChangeText, AnswerCancelText}};
        QCOMPARE(h.ui.rec.questions, asked);
        QVERIFY(sentWhileAsking.empty());
        if (answer == AnswerSendChange) {
            // The edit goes out as it stands; the next one does not ask again.
            QCOMPARE(h.TakeRequests(), (Requests{{0x1F, 30, 0, 0}}));
            Find<QSlider>("TrackBarMicVol")->setValue(31);
            QCOMPARE(h.TakeRequests(), (Requests{{0x1F, 31, 0, 0}}));
            QCOMPARE(h.ui.rec.questions.size(), std::size_t(1));
            QVERIFY(Messages().empty());

            // A new link asks again.
            h.Form().ConnectBitBtnClick();
            h.Form().ConnectBitBtnClick();
            h.ClearTraffic();
            h.ui.rec.answers = {AnswerReadFirst};
            Find<QSlider>("TrackBarMicVol")->setValue(32);
            QCOMPARE(h.ui.rec.questions.size(), std::size_t(2));
            QCOMPARE(int(h.TakeRequests().front()[0]), 0x81);
            return;
        }
        if (answer != AnswerReadFirst) {
            // Taken back, and said so by the controls: they show what they
            // showed before, and the box got nothing.
            QVERIFY(h.TakeRequests().empty());
            QVERIFY(Messages().empty());
            QCOMPARE(Find<QSlider>("TrackBarMicVol")->value(), 0);
            QCOMPARE(int(DspParams.MicVol), 0);
            QCOMPARE(int(DspParams.Fbx), int(windowFbx));
            QCOMPARE(Find<QSlider>("TrackBarFS")->value(), int(windowFbx));
            QCOMPARE(h.box->Box.Current.System[1], std::uint8_t(40));
            QCoreApplication::processEvents();
            // The next edit asks again.
            h.ui.rec.answers = {AnswerSendChange};
            Find<QSlider>("TrackBarMicVol")->setValue(20);
            QCOMPARE(h.ui.rec.questions.size(), std::size_t(2));
            QCOMPARE(h.TakeRequests(), (Requests{{0x1F, 20, 0, 0}}));
            return;
        }
        if (readFails) {
            // Not read: the edit stays in the window, marked as not on the box.
            QCOMPARE(h.TakeRequests(), (Requests{{0x81}}));
            QCOMPARE(Messages(), std::vector<std::string>{"Read dsp fault!"});
            QCOMPARE(Find<QSlider>("TrackBarMicVol")->value(), 30);
            QVERIFY(h.ui.rec.exchangeWarning);
            QVERIFY(ExchangePanel()->toolTip().contains("Mic volume"));
            return;
        }
        // The window reads the box and shows it (the controls it moves send
        // the box's own values back), then puts the edit on top and sends it:
        // the volume, and the fbx moved while the question was open.
        Requests expected =
            Concat(ReadAllRequests, {{0x21, boxFbx}, {0x1F, 40, 50, 60}, {0x1F, 40, 50, 60}, {0x1F, 40, 50, 60},
                                     {0x1F, 30, 50, 60}});
        if (boxFbx + 1 != windowFbx)
            expected.push_back({0x21, std::uint8_t(boxFbx + 1)});
        QCOMPARE(h.TakeRequests(), expected);
        QCOMPARE(Messages(), std::vector<std::string>{"Read dsp ok!"});
        QCOMPARE(Find<QSlider>("TrackBarMicVol")->value(), 30);
        QCOMPARE(h.box->Box.Current.System[1], std::uint8_t(30));
        QCOMPARE(h.box->Box.Current.System[2], std::uint8_t(50));
        QCoreApplication::processEvents();
        // Read now: edits go out without a question.
        Find<QSlider>("TrackBarMicVol")->setValue(41);
        QCOMPARE(h.TakeRequests(), (Requests{{0x1F, 41, 50, 60}}));
        QCOMPARE(h.ui.rec.questions.size(), std::size_t(1));
    }

    // A Reset sends a request per band; the question comes once. Read first,
    // the bands land reset on top of what was read, also those the window
    // already had at their defaults; cancelled, nothing goes out.
    void aResetThatAsksIsAskedOnceAndLandsWhole_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("read from box") << AnswerReadFirst;
        QTest::newRow("cancel") << AnswerCancel;
    }
    void aResetThatAsksIsAskedOnceAndLandsWhole()
    {
        QFETCH(int, answer);
        VirtualBox::Settings& box = h.box->Box.Current;
        box.Bands[7] = 30;                                     // MIC band 1: +3.0 dB
        box.Bands[BandRecordSize * 4 + 7] = std::uint8_t(-20); // MIC band 5: -2.0 dB
        box.Bands[BandRecordSize * 4 + 8] = 0xFF;
        box.Bands[BandRecordSize * 9 + 7] = 40;                // MUSIC band 3: not reset
        DspParams.Band[1].Gain = 6.0f; // the window's one change from the defaults
        h.Editor().RefreshBands();
        h.Form().Changes().StartBoxHistory();
        h.Form().ConnectBitBtnClick();
        h.ClearTraffic();

        h.ui.rec.answers = {answer};
        Click("BitBtnReset");
        QCOMPARE(h.ui.rec.questions.size(), std::size_t(1));
        auto bands = [](const Requests& all) {
            Requests only;
            for (const Bytes& r : all)
                if (r[0] == 0x20)
                    only.push_back(r);
            return only;
        };
        if (answer == AnswerCancel) {
            QVERIFY(h.TakeRequests().empty());
            QCOMPARE(DspParams.Band[1].Gain, 6.0f);
            QCOMPARE(Find<QLineEdit>("FGainEdit2")->text(), QString("6.0"));
            return;
        }
        for (int k = 0; k < 7; ++k) {
            QCOMPARE(DspParams.Band[std::size_t(k)].Gain, 0.0f);
            QCOMPARE(DspParams.Band[std::size_t(k)].Flags, std::uint8_t(0xC2));
        }
        QCOMPARE(DspParams.Band[9].Gain, 4.0f);
        // After the read: the bands the box held otherwise, each once.
        const Requests requests = h.TakeRequests();
        QCOMPARE(Requests(requests.begin(), requests.begin() + 9), ReadAllRequests);
        QCOMPARE(bands(Requests(requests.begin() + 9, requests.end())), (Requests{PeqBandsPayload(0), PeqBandsPayload(4)}));
        QCOMPARE(box.Bands[7], std::uint8_t(0));
        QCOMPARE(box.Bands[BandRecordSize * 4 + 7], std::uint8_t(0));
        QCOMPARE(box.Bands[BandRecordSize * 9 + 7], std::uint8_t(40));
        QCoreApplication::processEvents();
        QCOMPARE(h.Form().findChild<QAction*>("Undo1")->text(), QString("Undo Reset MIC EQ"));
        h.Form().Changes().Undo1Click();
        QCOMPARE(bands(h.TakeRequests()), (Requests{PeqBandsPayload(0), PeqBandsPayload(4)}));
        QCOMPARE(box.Bands[7], std::uint8_t(30));
    }

    void aSliderPressedIntoTheQuestionStepsOnce()
    {
        // The press that brings up the question loses its release to it; the
        // slider must not go on stepping towards the pointer afterwards.
        h.Form().ConnectBitBtnClick();
        h.ClearTraffic();
        h.ui.rec.answers = {AnswerSendChange};
        QSlider* bar = Find<QSlider>("TrackBarMicVol");
        const QPoint at = bar->mapTo(&h.Form(), QPoint(bar->width() - 4, bar->height() / 2));
        QCursor::setPos(h.Form().mapToGlobal(at));
        QTest::mousePress(h.Form().windowHandle(), Qt::LeftButton, {}, at);
        QCOMPARE(h.ui.rec.questions.size(), std::size_t(1));
        QTest::qWait(800); // longer than the slider waits before it repeats
        QCOMPARE(h.TakeRequests(), (Requests{{0x1F, 10, 0, 0}}));
        QCOMPARE(bar->value(), 10);
        QTest::mouseRelease(h.Form().windowHandle(), Qt::LeftButton, {}, at); // the button goes up at last
        QVERIFY(h.TakeRequests().empty());
    }

    void whatTheImageComesFromIsKeptPerLink()
    {
        // A look at the box leaves the window's image what it was: not the box's.
        h.Form().ConnectBitBtnClick();
        h.Form().Changes().CompareBox1Click();
        QVERIFY(!Link().ImageFromBox());
        // A whole-image write or a read makes the image the box's: no question.
        Click("UpdatePc2Dsp");
        QVERIFY(Link().ImageFromBox());
        h.ClearTraffic();
        Find<QSlider>("TrackBarEffectVol")->setValue(9);
        QCOMPARE(h.TakeRequests(), (Requests{{0x1F, 0, 0, 9}}));
        QVERIFY(h.ui.rec.questions.empty());

        // AUTO reads at once.
        h.Form().ConnectBitBtnClick();
        Find<QCheckBox>("CheckBoxAuto")->setChecked(true);
        h.Form().ConnectBitBtnClick();
        QVERIFY(Link().ImageFromBox());
    }

    void aFailedReadChangesNothing_data()
    {
        QTest::addColumn<int>("failing");
        QTest::addColumn<int>("fault");
        for (int k = 1; k <= 9; ++k)
            QTest::addRow("exchange %d", k)
                << k << int(k % 2 ? VirtualBox::Fault::Silent : VirtualBox::Fault::BadChecksum);
    }
    void aFailedReadChangesNothing()
    {
        QFETCH(int, failing);
        QFETCH(int, fault);
        // The box differs from the window in every block.
        VirtualBox::Settings& box = h.box->Box.Current;
        box.System[1] = 70;
        box.System[23] = 3;
        box.Effects[1] ^= 0x0F;
        box.Effects[45] ^= 0x0F;
        for (std::size_t k = 0; k < std::size_t(BandTotal); ++k)
            box.Bands[BandRecordSize * k + 7] = std::uint8_t(10 + k); // every gain
        std::array<unsigned char, sizeof(DspParamsImage)> before;
        std::memcpy(before.data(), &DspParams, sizeof DspParams);

        h.session->FailFrom(failing, VirtualBox::Fault(fault));
        Click("UpdateDsp2Pc");
        QCOMPARE(Messages(), std::vector<std::string>{"Read dsp fault!"});
        const auto requests = h.TakeRequests();
        QCOMPARE(requests, Requests(ReadAllRequests.begin(), ReadAllRequests.begin() + failing));
        QCOMPARE(std::memcmp(before.data(), &DspParams, sizeof DspParams), 0);
        QCOMPARE(Find<QSlider>("TrackBarMicVol")->value(), 0);

        // The same read going through takes everything.
        h.box->Box.Faults = {};
        Click("UpdateDsp2Pc");
        QCOMPARE(DspParams.MicVol, std::uint8_t(70));
        QCOMPARE(DspParams.Band[38].Gain, 4.8f);
    }

    void aFailedEditMarksTheExchangePanel_data()
    {
        QTest::addColumn<QString>("clearedBy");
        QTest::newRow("write to dsp") << "UpdatePc2Dsp";
        QTest::newRow("read from dsp") << "UpdateDsp2Pc";
    }
    void aFailedEditMarksTheExchangePanel()
    {
        QFETCH(QString, clearedBy);
        QVERIFY(ExchangePanel()->toolTip().isEmpty());
        h.session->FailFrom(1);
        Find<QSlider>("TrackBarEffectVol")->setValue(5);
        // The status text stays what it was; the panel is marked besides.
        QCOMPARE(h.Form().StatusText(1), QString("Read:fault!"));
        QVERIFY(h.ui.rec.exchangeWarning);
        QVERIFY(ExchangePanel()->toolTip().contains("Write to dsp"));
        QVERIFY(!ExchangePanel()->styleSheet().isEmpty());

        // A successful edit of something else leaves the mark: the volume is
        // still missing. The volume going through clears it.
        h.box->Box.Faults = {};
        Find<QSlider>("TrackBarFS")->setValue(Find<QSlider>("TrackBarFS")->value() == 1 ? 2 : 1);
        QCOMPARE(h.Form().StatusText(1), QString("Read:Ok!"));
        QVERIFY(!ExchangePanel()->toolTip().isEmpty());
        Find<QSlider>("TrackBarEffectVol")->setValue(6);
        QVERIFY(ExchangePanel()->toolTip().isEmpty());
        QVERIFY(!h.ui.rec.exchangeWarning);

        // A failing whole transfer leaves it; a successful one clears it.
        h.session->FailFrom(1);
        Find<QSlider>("TrackBarEffectVol")->setValue(7);
        QVERIFY(!ExchangePanel()->toolTip().isEmpty());
        h.session->FailFrom(1);
        Click(qPrintable(clearedBy));
        QVERIFY(!ExchangePanel()->toolTip().isEmpty());
        h.box->Box.Faults = {};
        Click(qPrintable(clearedBy));
        QVERIFY(ExchangePanel()->toolTip().isEmpty());
        QVERIFY(ExchangePanel()->styleSheet().isEmpty());
        QVERIFY(!h.ui.rec.exchangeWarning);
    }

    // A box that went away misses the edits made meanwhile. Once it is back
    // and linked, the window still names every field it lacks, and marks
    // the band rows, until the field goes through or a write or read makes
    // window and box equal.
    void editsLostWhileTheBoxWasGoneStayMarked()
    {
        h.Form().ConnectBitBtnClick();
        Click("UpdateDsp2Pc");
        h.ClearTraffic();
        h.Form().DeviceChange(DeviceEventKind::Removal, InProcessBox::DefaultInstanceId);
        QVERIFY(!Hid().Linked);
        auto* gain = Find<QLineEdit>("FGainEdit1");
        gain->setText("2");
        gain->setModified(true);
        LeaveFocus(gain);
        Find<QSlider>("TrackBarEffectVol")->setValue(7);
        QCOMPARE(h.Form().StatusText(1), QString("Write:fault!"));

        h.Form().ConnectBitBtnClick();
        QVERIFY(Hid().Linked);
        QCOMPARE(h.TakeRequests(), (Requests{{0x2A, 1}}));
        QCOMPARE(DspParams.Band[0].Gain, 2.0f);
        QCOMPARE(h.box->Box.Current.Bands[7], std::uint8_t(0)); // band 0's gain on the box
        auto rowMarked = [&](int r) { return Find<QGroupBox>(qPrintable(QString("GroupBox%1").arg(r)))->property("ktvUnsent").toBool(); };
        QVERIFY(h.ui.rec.exchangeWarning);
        QVERIFY2(ExchangePanel()->toolTip().endsWith("Not on the box: MIC band 1, Mic volume, Music volume, Effect volume"),
                 qPrintable(ExchangePanel()->toolTip()));
        QVERIFY(rowMarked(1));
        QVERIFY(!Find<QGroupBox>("GroupBox1")->toolTip().isEmpty());
        QVERIFY(!rowMarked(2));
        h.SelectTab(1); // MUSIC: its first band reached the box
        QVERIFY(!rowMarked(1));
        h.SelectTab(0);
        QVERIFY(rowMarked(1));

        // The band going through clears its mark; the volumes are still missing.
        h.ui.rec.answers = {AnswerSendChange};
        gain->setText("3");
        gain->setModified(true);
        LeaveFocus(gain);
        QCOMPARE(h.TakeRequests(), (Requests{PeqBandsPayload(0)}));
        QVERIFY(!rowMarked(1));
        QVERIFY(h.ui.rec.exchangeWarning);
        QVERIFY(ExchangePanel()->toolTip().endsWith("Not on the box: Mic volume, Music volume, Effect volume"));

        // A write of everything makes them equal.
        Click("UpdatePc2Dsp");
        QVERIFY(!h.ui.rec.exchangeWarning);
        QVERIFY(ExchangePanel()->toolTip().isEmpty());
        QCOMPARE(h.box->Box.Current.System[3], std::uint8_t(7));
    }

#ifndef _WIN32
    // The Linux sockets of the virtual boxes.
    void aKilledBoxIsARemoval()
    {
        QTemporaryDir runtime;
        const std::string boxDir = platform::VirtualBoxDirectory(runtime.path().toUtf8().constData(), 0);
        QVERIFY(platform::EnsureVirtualBoxDirectory(boxDir));
        const std::string path = boxDir + "/box-t.sock";
        LinuxHidPlatform sockets(boxDir);
        sockets.UseHidapi = false;
        Hid().CloseDevice();
        Hid().SetPlatform(&sockets);

        auto first = std::make_unique<SocketBox>(path);
        QVERIFY(first->Bound());
        Click("ConnectBitBtn");
        QCOMPARE(h.Form().StatusText(0), QString("Connect:ok!"));
        QCOMPARE(first->Received(), (Requests{{0x2A, 1}}));

        // A second box of the same kind leaving does not end this link.
        h.Form().DeviceChange(DeviceEventKind::Removal, "VIRTUAL\\VID_2B5E&PID_61D3\\box-other.sock");
        QVERIFY(Hid().Linked);
        QCOMPARE(h.Form().StatusText(0), QString("Connect:ok!"));
        Messages().clear();

        // Killed: no removal is reported, the socket file stays.
        first->Kill();
        QVERIFY(QFile::exists(QString::fromStdString(path)));
        h.ui.rec.answers = {AnswerSendChange};
        Find<QSlider>("TrackBarEffectVol")->setValue(5);
        QCOMPARE(Messages(), std::vector<std::string>{"DSP USB Plugout!"});
        QVERIFY(!Hid().Linked);
        QVERIFY(!Hid().Opened);
        QCOMPARE(h.Form().StatusText(0), QString("Connect:no!"));
        QVERIFY(ShowsConnectGlyph(Find<QPushButton>("ConnectBitBtn"), 0));

        // One Connect press links to the box started in its place.
        SocketBox second(path);
        QVERIFY(second.Bound());
        Click("ConnectBitBtn");
        QVERIFY(Hid().Linked);
        QCOMPARE(h.Form().StatusText(0), QString("Connect:ok!"));
        QVERIFY(ShowsConnectGlyph(Find<QPushButton>("ConnectBitBtn"), 1));
        QCOMPARE(second.Received(), (Requests{{0x2A, 1}}));

        Click("ConnectBitBtn");
        QCOMPARE(second.Received(), (Requests{{0x2A, 1}, {0x2A, 0}}));
        Hid().SetPlatform(h.box);
        Hid().OpenDevice();
    }
#endif

    void saveToFileAsksBeforeReplacing_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<QString>("message");
        QTest::newRow("yes") << 0 << true << true << "Preset saved";
        QTest::newRow("no") << 1 << true << false << "";
        QTest::newRow("closed") << -1 << true << false << "";
        QTest::newRow("yes, cannot be written") << 0 << false << false << "Preset not saved: %1: it is a directory.";
    }
    void saveToFileAsksBeforeReplacing()
    {
        QFETCH(int, answer);
        QFETCH(bool, writable);
        QFETCH(bool, replaced);
        QFETCH(QString, message);
        const QString path = QDir(dir->path()).filePath("keep.dap");
        DspParams.Band[3].Fc = 1500.0f;
        QVERIFY(WriteDapFile(path.toStdString()));
        const QByteArray before = FileBytes(path);
        Click("ButtonResh");
        Find<QListWidget>("FileListBox1")->setCurrentRow(0);
        if (!writable) { // the name now stands for a directory
            QVERIFY(QFile::remove(path));
            QVERIFY(QDir(dir->path()).mkdir("keep.dap"));
        }

        DspParams.Band[3].Fc = 800.0f;
        QTemporaryDir other;
        const QString expected = QDir(other.path()).filePath("expected.dap");
        QVERIFY(WriteDapFile(expected.toStdString()));
        h.ui.rec.answers = {answer};
        Click("Button1");

        const std::vector<std::vector<std::string>> asked{
            {"Replace keep.dap with the window's settings?", "Yes", "No"}};
        QCOMPARE(h.ui.rec.questions, asked);
        if (writable)
            QCOMPARE(FileBytes(path), replaced ? FileBytes(expected) : before);
        QCOMPARE(Messages(), message.isEmpty() ? std::vector<std::string>{}
                                               : std::vector<std::string>{
                                                     message.arg(QDir::toNativeSeparators(path)).toStdString()});
        QVERIFY(h.TakeRequests().empty());
    }

    void theWheelChangesOnlyAFocusedControl_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("tab");
        // Over the tabs: it stays in view, so no page scrolls under it.
        QTest::newRow("volume bar") << "TrackBarMicVol" << 0;
        QTest::newRow("settings bar") << "TrackBarMicTH" << 0;
        QTest::newRow("type list") << "FTypeSel1" << 0;
        QTest::newRow("slot box") << "ComboBoxRecall" << 7;
    }
    void theWheelChangesOnlyAFocusedControl()
    {
        QFETCH(QString, name);
        QFETCH(int, tab);
        // Small enough for the window to scroll.
        h.Form().resize(500, 300);
        h.SelectTab(tab);
        QApplication::processEvents();
        h.Form().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.Form()));
        QWidget* control = Find<QWidget>(qPrintable(name));
        QVERIFY(control);
        // From the middle, so that the wheel can move it either way.
        if (auto* slider = qobject_cast<QSlider*>(control))
            slider->setValue((slider->minimum() + slider->maximum()) / 2);
        else
            qobject_cast<QComboBox*>(control)->setCurrentIndex(2);
        h.ClearTraffic();
        QScrollBar* scroll = h.Form().PageScroller(tab)->verticalScrollBar();
        QVERIFY(scroll->maximum() > 0);
        scroll->setValue(0);
        auto value = [&] {
            if (auto* slider = qobject_cast<QSlider*>(control))
                return slider->value();
            return qobject_cast<QComboBox*>(control)->currentIndex();
        };
        const int was = value();
        auto wheel = [&] {
            const QPointF at(control->width() / 2.0, control->height() / 2.0);
            QWheelEvent event(at, control->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            // Spontaneous, as from the window system: only such events travel
            // on to the parents when a widget ignores them.
            QSpontaneKeyEvent::setSpontaneous(&event);
            qApp->notify(control, &event); // sendEvent would make it synthetic again
        };

        QVERIFY(!control->hasFocus());
        wheel();
        QCOMPARE(value(), was);
        QVERIFY(h.TakeRequests().empty());
        if (h.Form().PageScroller(tab)->isAncestorOf(control))
            QVERIFY(scroll->value() > 0); // the page scrolled instead
        QVERIFY(!control->hasFocus());

        // Given the focus, the control takes the wheel.
        control->setFocus(Qt::TabFocusReason);
        QVERIFY(control->hasFocus());
        wheel();
        QVERIFY(value() != was);
    }

    void pasteGoesThroughTheTypingFilter()
    {
        auto* edit = Find<QLineEdit>("FcEdit1");
        h.Form().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&h.Form()));
        edit->setFocus();
        edit->clear();
        QGuiApplication::clipboard()->setText("1a2.5.7\n");
        // Ctrl+V as X11 delivers it, with the control character as its text.
        QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QString(QChar(0x16)));
        QApplication::sendEvent(edit, &paste);
        // As typed: the letter and the second point refused, no Enter.
        QCOMPARE(edit->text(), QString("12.57"));
        QVERIFY(h.TakeRequests().empty());

        // The edit's menu pastes the same way.
        edit->clear();
        QGuiApplication::clipboard()->setText("4x4");
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(2, 2), edit->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(edit, &menuEvent);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        // The item that pastes is the one whose text carries Ctrl+V.
        const QString pasteKey = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
        QAction* pasteItem = nullptr;
        for (QAction* action : menu->actions())
            if (!pasteKey.isEmpty() && action->text().endsWith(pasteKey))
                pasteItem = action;
        QVERIFY(pasteItem);
        pasteItem->trigger();
        menu->close();
        QCOMPARE(edit->text(), QString("44"));

        // The store slot box: only 1..8, one character.
        QLineEdit* slot = Find<QComboBox>("ComboBoxSave")->lineEdit();
        QGuiApplication::clipboard()->setText("9a0");
        QApplication::sendEvent(slot, &paste);
        QCOMPARE(slot->text(), QString("1"));
        QGuiApplication::clipboard()->setText("x7");
        QApplication::sendEvent(slot, &paste);
        QCOMPARE(slot->text(), QString("7"));
    }

    void presetListInReadingOrder()
    {
        for (const char* name : {"b.dap", "Zed.dap", "a10.dap", "émile.dap", "A.dap", "a2.dap"}) {
            QFile f(QDir(dir->path()).filePath(QString::fromUtf8(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        Click("ButtonResh");
        auto* list = Find<QListWidget>("FileListBox1");
        QStringList shown;
        for (int i = 0; i < list->count(); ++i)
            shown << list->item(i)->text();
        QCOMPARE(shown, (QStringList{"A.dap", "a2.dap", "a10.dap", "b.dap", QString::fromUtf8("émile.dap"), "Zed.dap"}));
    }
};

QTEST_MAIN(WindowGuardsTest)
#include "WindowGuardsTest.moc"
