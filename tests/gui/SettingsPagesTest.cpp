// The settings pages against the in-process virtual box: each control's stored
// field, value label and exact request, the sign toggle, and LoadSettings on
// every channel.

#include "core/TestSupport.h"
#include "editor/SettingsPages.h"
#include "editor/SettingsPagesWidgets.h"
#include "params/Gloable.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QtTest>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace ktv;
using ktv::test::Bytes;
using ktv::test::RecordingUi;

namespace {

constexpr auto MIC = std::uint8_t(EqChannel::MIC);
constexpr auto MUSIC = std::uint8_t(EqChannel::MUSIC);
constexpr auto EFFECT = std::uint8_t(EqChannel::EFFECT);
constexpr auto MAIN = std::uint8_t(EqChannel::MAIN);
constexpr auto CENTER = std::uint8_t(EqChannel::CENTER);
constexpr auto SUB = std::uint8_t(EqChannel::SUB);
constexpr auto SRS = std::uint8_t(EqChannel::SRS);

QString Show(const std::vector<Bytes>& requests)
{
    QStringList out;
    for (const Bytes& r : requests) {
        QStringList bytes;
        for (std::uint8_t b : r)
            bytes << QString::asprintf("%02X", b);
        out << "[" + bytes.join(' ') + "]";
    }
    return out.join(' ');
}

} // namespace

// Compares the requests the box received since the last look with a list.
#define EXPECT_SENT(...)                                                                                              \
    do {                                                                                                               \
        const std::vector<Bytes> want_ __VA_ARGS__;                                                                    \
        const auto got_ = TakeRequests();                                                                              \
        QVERIFY2(got_ == want_, qPrintable("sent " + Show(got_) + ", expected " + Show(want_)));                      \
    } while (0)

class SettingsPagesTest : public QObject {
    Q_OBJECT

    RecordingUi ui;
    std::optional<ktv::test::BoxSession> session;
    std::unique_ptr<SettingsPages> pages;

    std::vector<Bytes> TakeRequests() { return session->TakeRequests(); }

    // A fresh image and a fresh set of pages on `ch`; `prepare` edits the
    // image before the pages exist.
    void Fresh(std::uint8_t ch, const std::function<void()>& prepare = {})
    {
        pages.reset();
        DspParams = {};
        LoadDefaults();
        if (prepare)
            prepare();
        pages = std::make_unique<SettingsPages>();
        pages->SetChannel(EqChannel(ch));
        TakeRequests();
        ui.Clear();
    }

    template <class T> T* Find(const char* name)
    {
        T* w = pages->findChild<T*>(name);
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    QSlider* Bar(const char* name) { return Find<QSlider>(name); }
    QString Text(const char* name) { return Find<QLabel>(name)->text(); }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        session.emplace(ui);
        QVERIFY(Hid().Opened);
    }

    void cleanupTestCase()
    {
        pages.reset();
        session.reset();
    }

    void init()
    {
        QLocale::setDefault(QLocale::c());
        Fresh(MIC);
    }

    void pagesAndInitialCaptions()
    {
        QCOMPARE(pages->objectName(), QString("PageControlSet"));
        QCOMPARE(pages->count(), 4);
        const char* sheets[] = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4"};
        const char* captions[] = {"MIC", "MUSIC", "EFFECT", "OUT"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(pages->widget(i)->objectName(), QString(sheets[i]));
            QCOMPARE(pages->tabText(i), QString(captions[i]));
        }
        QVERIFY(pages->tabBar()->isHidden());
        for (const char* box : {"GroupBoxLimitor", "GroupBoxMusic", "GroupBoxEcho", "GroupBox16", "GroupBox15"})
            QVERIFY2(pages->findChild<QWidget*>(box), box);

        struct Initial {
            const char* bar;
            int min, max, position;
            const char* label;
            const char* caption;
        };
        const Initial initial[] = {
            {"TrackBarMicTH", -300, 0, 0, "LabelMicTH", "0dB"},
            {"TrackBarMicAttack", 1, 100, 1, "LabelMicAttack", "1ms"},
            {"TrackBarMicRelease", 1, 100, 1, "LabelMicRelease", "Attackx1"},
            {"TrackBarMicRatio", 1, 100, 1, "LabelMicRatio", "1"},
            {"TrackBarFS", 0, 3, 0, "LabelFS", "0"},
            {"TrackBarMicNS", 0, 3, 0, "LabelMicNS", "0"},
            {"TrackBarPS", -4, 4, 0, "LabelPS", "0"},
            {"TrackBarEchoPreL", 0, 100, 0, "LabelEchoPreDelay", "0ms"},
            {"TrackBarDelay", 0, 300, 0, "LabelEchoDelay", "0ms"},
            {"TrackBarRepeat", 0, 90, 0, "LabelEchoRepeat", "0%"},
            {"TrackBarDamp", 0, 100, 0, "LabelEchoDamp", "0%"},
            {"TrackBarReverbPreDelay", 0, 100, 0, "LabelReverbPreDelay", "0ms"},
            {"TrackBarReverbEarlyVol", 0, 100, 0, "LabelReverbEarlyVol", "0%"},
            {"TrackBarReverbTime", 0, 100, 0, "LabelReverbTime", "0%"},
            {"TrackBarReverbDamp", 0, 100, 0, "LabelReverbDamp", "0%"},
            {"TrackBarOutMicVol", 0, 100, 0, "LabelOutMicVol", "+0"},
            {"TrackBarOutMusicVol", 0, 100, 0, "LabelOutMusicVol", "+0"},
            {"TrackBarOutEchoVol", 0, 100, 0, "LabelOutEchoVol", "+0"},
            {"TrackBarOutReverbVol", 0, 100, 0, "LabelOutReverbVol", "+0"},
            {"TrackBarOutTH", -300, 0, 0, "LabelOutTH", "0dB"},
            {"TrackBarOutAT", 1, 100, 1, "LabelOutAT", "1ms"},
            {"TrackBarOutRT", 1, 100, 1, "LabelOutRT", "Attackx1"},
            {"TrackBarOutRatio", 1, 100, 1, "LabelOutRatio", "100"},
            {"TrackBarDelayL", 0, 2205, 0, "LabelDelayL", "Delay L:0ms"},
            {"TrackBarDelayR", 0, 2205, 0, "LabelDelayR", "Delay R:0ms"},
        };
        for (const Initial& c : initial) {
            QSlider* bar = Bar(c.bar);
            QVERIFY2(bar->orientation() == Qt::Horizontal && !bar->invertedAppearance(), c.bar);
            QVERIFY2(bar->minimum() == c.min && bar->maximum() == c.max, c.bar);
            QVERIFY2(bar->value() == c.position, c.bar);
            QVERIFY2(bar->singleStep() == 1 && bar->tickPosition() == QSlider::NoTicks, c.bar);
            QCOMPARE(Text(c.label), QString(c.caption));
        }
        QVERIFY(!Find<QCheckBox>("CheckBoxMuteL")->isChecked());
        QVERIFY(!Find<QCheckBox>("CheckBoxMuteR")->isChecked());
        auto* input = Find<RadioGroup>("RadioGroupInput");
        QCOMPARE(input->ItemIndex(), 0);
        QStringList items;
        for (QRadioButton* b : input->findChildren<QRadioButton*>())
            items << b->text();
        QCOMPARE(items, QStringList({"AUX", "BGM", "BT", "UDISK", "OPT", "COX"}));
        QVERIFY(TakeRequests().empty());
    }

    // One move of a track bar on a fresh image: the field, the label and the
    // one request it sends.
    void trackBarReactions()
    {
        struct Case {
            const char* name; // for failure messages
            std::uint8_t channel;
            const char* bar;
            int from; // moved there first, its traffic discarded
            int to;
            const char* label;
            QString text;
            std::function<int()> stored;
            int expected;
            Bytes request;
            std::function<void()> prepare;
        };
        const auto& p = DspParams;
        const Case cases[] = {
            // MIC page
            {"mic threshold -12.5", MIC, "TrackBarMicTH", 0, -125, "LabelMicTH", "-12.5dB",
             [&] { return int(p.Dyn[0].Threshold); }, -125, {0x27, 0, 0x83, 0xFF, 1, 0, 1, 1}, {}},
            {"mic threshold left end", MIC, "TrackBarMicTH", 0, -300, "LabelMicTH", "-30dB",
             [&] { return int(p.Dyn[0].Threshold); }, -300, {0x27, 0, 0xD4, 0xFE, 1, 0, 1, 1}, {}},
            {"mic threshold -12", MIC, "TrackBarMicTH", 0, -120, "LabelMicTH", "-12dB",
             [&] { return int(p.Dyn[0].Threshold); }, -120, {0x27, 0, 0x88, 0xFF, 1, 0, 1, 1}, {}},
            {"mic threshold -0.3", MIC, "TrackBarMicTH", 0, -3, "LabelMicTH", "-0.3dB",
             [&] { return int(p.Dyn[0].Threshold); }, -3, {0x27, 0, 0xFD, 0xFF, 1, 0, 1, 1}, {}},
            {"mic threshold back to 0", MIC, "TrackBarMicTH", -50, 0, "LabelMicTH", "0dB",
             [&] { return int(p.Dyn[0].Threshold); }, 0, {0x27, 0, 0, 0, 1, 0, 1, 1}, {}},
            {"mic attack", MIC, "TrackBarMicAttack", 1, 57, "LabelMicAttack", "57ms",
             [&] { return int(p.Dyn[0].Attack); }, 57, {0x27, 0, 0, 0, 57, 0, 1, 1}, {}},
            {"mic release carries the others", MIC, "TrackBarMicRelease", 1, 25, "LabelMicRelease", "Attackx25",
             [&] { return int(p.Dyn[0].Release); }, 25, {0x27, 0, 0x9C, 0xFF, 10, 0, 25, 4},
             [] { DspParams.Dyn[0] = {-100, 10, 1, 4}; }},
            {"mic ratio", MIC, "TrackBarMicRatio", 1, 100, "LabelMicRatio", "100",
             [&] { return int(p.Dyn[0].Ratio); }, 100, {0x27, 0, 0, 0, 1, 0, 1, 100}, {}},
            {"fbx 2", MIC, "TrackBarFS", 0, 2, "LabelFS", "2", [&] { return int(p.Fbx); }, 2, {0x21, 2}, {}},
            {"fbx off still sends", MIC, "TrackBarFS", 3, 0, "LabelFS", "OFF", [&] { return int(p.Fbx); }, 0,
             {0x21, 0}, {}},
            {"noise gate step 2", MIC, "TrackBarMicNS", 0, 2, "LabelMicNS", "2",
             [&] { return int(p.NoiseGate[0]); }, -72, {0x24, 0, 0xB8, 0xFF}, {}},
            {"noise gate step 3", MIC, "TrackBarMicNS", 0, 3, "LabelMicNS", "3",
             [&] { return int(p.NoiseGate[0]); }, -66, {0x24, 0, 0xBE, 0xFF}, {}},
            {"noise gate off", MIC, "TrackBarMicNS", 1, 0, "LabelMicNS", "OFF",
             [&] { return int(p.NoiseGate[0]); }, -84, {0x24, 0, 0xAC, 0xFF}, {}},
            // MUSIC page
            {"pitch -4", MUSIC, "TrackBarPS", 0, -4, "LabelPS", "-4", [&] { return int(p.Pitch); }, -4, {0x22, 0xFC},
             {}},
            {"pitch +4", MUSIC, "TrackBarPS", 0, 4, "LabelPS", "+4", [&] { return int(p.Pitch); }, 4, {0x22, 4}, {}},
            {"pitch off", MUSIC, "TrackBarPS", -1, 0, "LabelPS", "OFF", [&] { return int(p.Pitch); }, 0, {0x22, 0},
             {}},
            // EFFECT page: the whole record travels in wire order
            {"echo predelay", EFFECT, "TrackBarEchoPreL", 0, 100, "LabelEchoPreDelay", "100ms",
             [&] { return int(p.Echo.PreDelay); }, 100,
             {0x30, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
            {"echo delay", EFFECT, "TrackBarDelay", 0, 300, "LabelEchoDelay", "300ms",
             [&] { return int(p.Echo.Delay); }, 300,
             {0x30, 0, 0, 0, 0, 0, 0, 0x2C, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
            {"echo repeat top", EFFECT, "TrackBarRepeat", 0, 90, "LabelEchoRepeat", "90%",
             [&] { return int(p.Echo.Repeat); }, 90,
             {0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 90, 0, 0, 0, 0, 0}, {}},
            {"echo damp with carried fields", EFFECT, "TrackBarDamp", 0, 33, "LabelEchoDamp", "33%",
             [&] { return int(p.Echo.Damp); }, 33,
             {0x30, 0x34, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 33, 0, 0, 7},
             [] {
                 DspParams.Echo.Word1 = 0x1234;
                 DspParams.Echo.Byte5 = 7;
             }},
            {"reverb predelay", EFFECT, "TrackBarReverbPreDelay", 0, 20, "LabelReverbPreDelay", "20ms",
             [&] { return int(p.Reverb.PreDelay); }, 20, {0x31, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0}, {}},
            {"reverb early:late", EFFECT, "TrackBarReverbEarlyVol", 0, 70, "LabelReverbEarlyVol", "70%",
             [&] { return int(p.Reverb.EarlyLate); }, 70, {0x31, 0, 0, 0, 0, 0, 70, 0, 0, 0, 0, 0}, {}},
            {"reverb time", EFFECT, "TrackBarReverbTime", 0, 100, "LabelReverbTime", "100%",
             [&] { return int(p.Reverb.Time); }, 100, {0x31, 0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0}, {}},
            {"reverb damp", EFFECT, "TrackBarReverbDamp", 0, 5, "LabelReverbDamp", "5%",
             [&] { return int(p.Reverb.Damp); }, 5, {0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0}, {}},
            // OUT page: mix levels keep the sign flag
            {"main mic mix", MAIN, "TrackBarOutMicVol", 0, 35, "LabelOutMicVol", "+35",
             [&] { return int(p.OutMix[0].MicVol); }, 35, {0x2C, 0, 35, 0, 0, 0}, {}},
            {"center music mix", CENTER, "TrackBarOutMusicVol", 0, 100, "LabelOutMusicVol", "+100",
             [&] { return int(p.OutMix[1].MusicVol); }, 100, {0x2C, 1, 0, 100, 0, 0}, {}},
            {"sub echo mix", SUB, "TrackBarOutEchoVol", 0, 1, "LabelOutEchoVol", "+1",
             [&] { return int(p.OutMix[2].EchoVol); }, 1, {0x2C, 2, 0, 0, 1, 0}, {}},
            {"srs reverb mix keeps minus", SRS, "TrackBarOutReverbVol", 0, 60, "LabelOutReverbVol", "-60",
             [&] { return int(p.OutMix[3].ReverbVol); }, 0x80 | 60, {0x2C, 3, 9, 0, 0, 0x80 | 60},
             [] {
                 DspParams.OutMix[3].ReverbVol = 0x80 | 10;
                 DspParams.OutMix[3].MicVol = 9;
             }},
            // OUT page: limiter of the channel's group
            {"sub threshold", SUB, "TrackBarOutTH", 0, -123, "LabelOutTH", "-12.3dB",
             [&] { return int(p.Dyn[3].Threshold); }, -123, {0x27, 3, 0x85, 0xFF, 1, 0, 1, 1}, {}},
            {"main attack", MAIN, "TrackBarOutAT", 1, 20, "LabelOutAT", "20ms", [&] { return int(p.Dyn[1].Attack); },
             20, {0x27, 1, 0, 0, 20, 0, 1, 1}, {}},
            {"center release", CENTER, "TrackBarOutRT", 1, 7, "LabelOutRT", "Attackx7",
             [&] { return int(p.Dyn[2].Release); }, 7, {0x27, 2, 0, 0, 1, 0, 7, 1}, {}},
            {"srs ratio", SRS, "TrackBarOutRatio", 1, 4, "LabelOutRatio", "4", [&] { return int(p.Dyn[4].Ratio); },
             4, {0x27, 4, 0, 0, 1, 0, 1, 4}, {}},
            // OUT page: delays, all six entries travel
            {"center delay top", CENTER, "TrackBarDelayL", 0, 2205, "LabelDelayL", "Delay:50.0ms",
             [&] { return int(p.Delay[2]); }, 2205, {0x26, 1, 0, 2, 0, 0x9D, 0x08, 4, 0, 5, 0, 6, 0},
             [] { DspParams.Delay = {1, 2, 3, 4, 5, 6}; }},
            {"center delay rounds", CENTER, "TrackBarDelayL", 0, 100, "LabelDelayL", "Delay:2.3ms",
             [&] { return int(p.Delay[2]); }, 100, {0x26, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0}, {}},
            {"main left delay", MAIN, "TrackBarDelayL", 0, 441, "LabelDelayL", "Delay L:10.0ms",
             [&] { return int(p.Delay[0]); }, 441, {0x26, 0xB9, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
            {"main right delay", MAIN, "TrackBarDelayR", 0, 22, "LabelDelayR", "Delay R:0.5ms",
             [&] { return int(p.Delay[1]); }, 22, {0x26, 0, 0, 22, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
            {"sub delay zero", SUB, "TrackBarDelayL", 5, 0, "LabelDelayL", "Delay:0.0ms",
             [&] { return int(p.Delay[3]); }, 0, {0x26, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
            {"srs left delay", SRS, "TrackBarDelayL", 0, 1000, "LabelDelayL", "Delay L:22.7ms",
             [&] { return int(p.Delay[4]); }, 1000, {0x26, 0, 0, 0, 0, 0, 0, 0, 0, 0xE8, 0x03, 0, 0}, {}},
            {"srs right delay", SRS, "TrackBarDelayR", 0, 2205, "LabelDelayR", "Delay R:50.0ms",
             [&] { return int(p.Delay[5]); }, 2205, {0x26, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x9D, 0x08}, {}},
        };
        for (const Case& c : cases) {
            Fresh(c.channel, c.prepare);
            QSlider* bar = Bar(c.bar);
            if (c.from != bar->value()) {
                bar->setValue(c.from);
                TakeRequests();
            }
            bar->setValue(c.to);
            QVERIFY2(c.stored() == c.expected, c.name);
            QVERIFY2(Text(c.label) == c.text, qPrintable(QString(c.name) + ": label " + Text(c.label)));
            const auto requests = TakeRequests();
            QVERIFY2(requests == std::vector<Bytes>{c.request}, qPrintable(QString(c.name) + ": " + Show(requests)));
            QVERIFY2(ui.status[1] == "Read:Ok!", c.name);
        }
    }

    void keyboardMovesFromTheLeftEnd()
    {
        // Home is the left end of a horizontal bar: the threshold's minimum.
        QSlider* bar = Bar("TrackBarMicTH");
        QTest::keyClick(bar, Qt::Key_Home);
        QCOMPARE(int(DspParams.Dyn[0].Threshold), -300);
        QCOMPARE(Text("LabelMicTH"), QString("-30dB"));
        QTest::keyClick(bar, Qt::Key_Right);
        QCOMPARE(int(DspParams.Dyn[0].Threshold), -299);
        QCOMPARE(Text("LabelMicTH"), QString("-29.9dB"));
        EXPECT_SENT({{0x27, 0, 0xD4, 0xFE, 1, 0, 1, 1}, {0x27, 0, 0xD5, 0xFE, 1, 0, 1, 1}});
    }

    void localeDecimalSeparator()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        Fresh(MAIN);
        Bar("TrackBarOutTH")->setValue(-125);
        QCOMPARE(Text("LabelOutTH"), QString("-12,5dB"));
        Bar("TrackBarDelayL")->setValue(441);
        QCOMPARE(Text("LabelDelayL"), QString("Delay L:10,0ms"));
        Bar("TrackBarDelayR")->setValue(2000);
        QCOMPARE(Text("LabelDelayR"), QString("Delay R:45,4ms"));
    }

    void inputRadioGroup()
    {
        Fresh(MUSIC);
        pages->show();
        QVERIFY(QTest::qWaitForWindowExposed(pages.get()));
        auto* input = Find<RadioGroup>("RadioGroupInput");
        auto buttons = input->findChildren<QRadioButton*>();
        QCOMPARE(buttons.size(), 6);
        QTest::mouseClick(buttons[2], Qt::LeftButton, {}, QPoint(5, buttons[2]->height() / 2));
        QCOMPARE(input->ItemIndex(), 2);
        QCOMPARE(int(DspParams.Input), 2);
        EXPECT_SENT({{0x23, 2}});
        // Clicking the selected item again changes nothing and sends nothing.
        QTest::mouseClick(buttons[2], Qt::LeftButton, {}, QPoint(5, buttons[2]->height() / 2));
        QVERIFY(TakeRequests().empty());
        input->SetItemIndex(5);
        QCOMPARE(int(DspParams.Input), 5);
        EXPECT_SENT({{0x23, 5}});
    }

    void signToggle()
    {
        Fresh(MAIN);
        pages->show();
        QVERIFY(QTest::qWaitForWindowExposed(pages.get()));
        auto& echo = DspParams.OutMix[0].EchoVol;
        Bar("TrackBarOutEchoVol")->setValue(35);
        QCOMPARE(Text("LabelOutEchoVol"), QString("+35"));
        TakeRequests();

        QTest::mouseClick(Find<QLabel>("LabelOutEchoVol"), Qt::LeftButton);
        QCOMPARE(Text("LabelOutEchoVol"), QString("-35"));
        QCOMPARE(int(echo), 0x80 | 35);
        QCOMPARE(Bar("TrackBarOutEchoVol")->value(), 35);
        EXPECT_SENT({{0x2C, 0, 0, 0, 0x80 | 35, 0}});

        // The level moves under the sign.
        Bar("TrackBarOutEchoVol")->setValue(36);
        QCOMPARE(Text("LabelOutEchoVol"), QString("-36"));
        QCOMPARE(int(echo), 0x80 | 36);
        EXPECT_SENT({{0x2C, 0, 0, 0, 0x80 | 36, 0}});

        QTest::mouseClick(Find<QLabel>("LabelOutEchoVol"), Qt::LeftButton);
        QCOMPARE(Text("LabelOutEchoVol"), QString("+36"));
        QCOMPARE(int(echo), 36);
        EXPECT_SENT({{0x2C, 0, 0, 0, 36, 0}});

        // Each of the four labels toggles its own byte of its own group.
        struct Twin {
            std::uint8_t channel;
            const char* label;
            std::uint8_t OutputMixParams::*field;
            Bytes request;
        };
        const Twin twins[] = {
            {CENTER, "LabelOutMicVol", &OutputMixParams::MicVol, {0x2C, 1, 0x80, 0, 0, 0}},
            {SUB, "LabelOutMusicVol", &OutputMixParams::MusicVol, {0x2C, 2, 0, 0x80, 0, 0}},
            {SRS, "LabelOutReverbVol", &OutputMixParams::ReverbVol, {0x2C, 3, 0, 0, 0, 0x80}},
        };
        for (const Twin& t : twins) {
            Fresh(t.channel);
            pages->show();
            QVERIFY(QTest::qWaitForWindowExposed(pages.get()));
            QTest::mouseClick(Find<QLabel>(t.label), Qt::LeftButton);
            QCOMPARE(Text(t.label), QString("-0"));
            QCOMPARE(int(DspParams.OutMix[std::size_t(t.channel - MAIN)].*t.field), 0x80);
            EXPECT_SENT({t.request});
        }
    }

    void muteBits()
    {
        struct Case {
            std::uint8_t channel;
            const char* box;
            std::uint8_t bit;
        };
        const Case cases[] = {
            {MAIN, "CheckBoxMuteL", 0x01}, {MAIN, "CheckBoxMuteR", 0x02}, {CENTER, "CheckBoxMuteL", 0x04},
            {SUB, "CheckBoxMuteL", 0x08},  {SRS, "CheckBoxMuteL", 0x10},  {SRS, "CheckBoxMuteR", 0x20},
        };
        for (const Case& c : cases) {
            Fresh(c.channel);
            pages->show();
            QVERIFY(QTest::qWaitForWindowExposed(pages.get()));
            auto* check = Find<QCheckBox>(c.box);
            QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
            QVERIFY(check->isChecked());
            QCOMPARE(int(DspParams.Mute), int(c.bit));
            EXPECT_SENT({{0x1E, c.bit}});
            // Unticking clears only this line's bit.
            DspParams.Mute = 0x3F;
            check->setChecked(false);
            QCOMPARE(int(DspParams.Mute), 0x3F & ~c.bit);
            EXPECT_SENT({{0x1E, std::uint8_t(0x3F & ~c.bit)}});
        }
    }

    void rightLineOnlyOnMainAndSrs()
    {
        for (std::uint8_t ch : {CENTER, SUB}) {
            Fresh(ch);
            pages->ShowRightLine(false);
            Bar("TrackBarDelayR")->setValue(100);
            Find<QCheckBox>("CheckBoxMuteR")->setChecked(true);
            QCOMPARE(DspParams.Delay, (std::array<std::uint16_t, 6>{}));
            QCOMPARE(int(DspParams.Mute), 0);
            QVERIFY(TakeRequests().empty());
        }
        Fresh(MAIN);
        pages->show();
        const char* right[] = {"LabelDelayR", "TrackBarDelayR", "CheckBoxMuteR"};
        pages->ShowRightLine(false);
        for (const char* name : right)
            QVERIFY2(!Find<QWidget>(name)->isVisibleTo(pages.get()), name);
        QVERIFY(Find<QWidget>("TrackBarDelayL")->isVisibleTo(pages.get()));
        pages->ShowRightLine(true);
        for (const char* name : right)
            QVERIFY2(Find<QWidget>(name)->isVisibleTo(pages.get()), name);
    }

    // On MIC, MUSIC and EFFECT the OUT controls may move, but they store and
    // send nothing.
    void outControlsInertOffOutputChannels()
    {
        for (std::uint8_t ch : {MIC, MUSIC, EFFECT}) {
            Fresh(ch);
            pages->show();
            QVERIFY(QTest::qWaitForWindowExposed(pages.get()));
            const DspParamsImage before = DspParams;
            for (const char* name : {"TrackBarOutMicVol", "TrackBarOutMusicVol", "TrackBarOutEchoVol",
                                     "TrackBarOutReverbVol", "TrackBarOutTH", "TrackBarOutAT", "TrackBarOutRT",
                                     "TrackBarOutRatio", "TrackBarDelayL", "TrackBarDelayR"})
                Bar(name)->setValue(Bar(name)->value() + (Bar(name)->maximum() > 0 ? 1 : -1));
            Find<QCheckBox>("CheckBoxMuteL")->setChecked(true);
            Find<QCheckBox>("CheckBoxMuteR")->setChecked(true);
            // The OUT page is hidden here; the reactions are called directly.
            pages->LabelOutMicVolClick();
            pages->LabelOutMusicVolClick();
            pages->LabelOutEchoVolClick();
            pages->LabelOutReverbVolClick();
            QVERIFY(TakeRequests().empty());
            QCOMPARE(DspParams.OutMix[0].MicVol, before.OutMix[0].MicVol);
            QCOMPARE(DspParams.OutMix[0].ReverbVol, before.OutMix[0].ReverbVol);
            QCOMPARE(DspParams.Dyn[1].Threshold, before.Dyn[1].Threshold);
            QCOMPARE(DspParams.Dyn[1].Attack, before.Dyn[1].Attack);
            QCOMPARE(DspParams.Delay, before.Delay);
            QCOMPARE(DspParams.Mute, before.Mute);
        }
    }

    void failedSendKeepsTheNewValue()
    {
        Fresh(MIC);
        session->FailFrom(1);
        Bar("TrackBarMicRatio")->setValue(8);
        QCOMPARE(int(DspParams.Dyn[0].Ratio), 8);
        QCOMPARE(Text("LabelMicRatio"), QString("8"));
        QCOMPARE(ui.status[1], std::string("Read:fault!"));
        session->box.Box.Faults = {};
    }

    // ---- LoadSettings ----

    void loadClampsStoresAndSendsInOrder()
    {
        Fresh(CENTER, [] {
            auto& p = DspParams;
            p.Dyn[0].Threshold = -125;
            p.Dyn[0].Attack = 1000; // above the bar
            p.NoiseGate[0] = -60;   // step 4, above the bar
            p.Delay[2] = 3000;      // above 2205
            p.Mute = 0x04;
            p.Dyn[2].Ratio = 4;
            p.Fbx = 2;
            p.Pitch = -2;
            p.Input = 9;
            p.OutMix[1].MicVol = 0x80 | 40;
            p.OutMix[1].EchoVol = 120; // level above the bar, sign clear
            p.Echo.Repeat = 95;
            p.Reverb.Time = 50;
        });
        pages->LoadSettings();
        const std::vector<Bytes> expected{
            {0x27, 0, 0x83, 0xFF, 0xE8, 0x03, 1, 1}, // threshold, attack not yet clamped
            {0x27, 0, 0x83, 0xFF, 100, 0, 1, 1},     // attack clamped
            {0x24, 0, 0xBE, 0xFF},                   // noise gate step 3 = -66
            {0x26, 0, 0, 0, 0, 0x9D, 0x08, 0, 0, 0, 0, 0, 0},
            {0x1E, 0x04},
            {0x27, 2, 0, 0, 1, 0, 1, 4},
            {0x21, 2},
            {0x22, 0xFE},
            {0x23, 5},
            {0x2C, 1, 0x80 | 40, 0, 120, 0},
            {0x2C, 1, 0x80 | 40, 0, 100, 0},
            {0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 90, 0, 0, 0, 0, 0},
            {0x31, 0, 0, 0, 0, 0, 0, 0, 0, 50, 0, 0},
        };
        const auto requests = TakeRequests();
        QVERIFY2(requests == expected, qPrintable(Show(requests)));

        const auto& p = DspParams;
        QCOMPARE(int(p.Dyn[0].Attack), 100);
        QCOMPARE(int(p.NoiseGate[0]), -66);
        QCOMPARE(int(p.Delay[2]), 2205);
        QCOMPARE(int(p.Input), 5);
        QCOMPARE(int(p.OutMix[1].MicVol), 0x80 | 40);
        QCOMPARE(int(p.OutMix[1].EchoVol), 100);
        QCOMPARE(int(p.Echo.Repeat), 90);
        QCOMPARE(Find<RadioGroup>("RadioGroupInput")->ItemIndex(), 5);
        QVERIFY(Find<QCheckBox>("CheckBoxMuteL")->isChecked());

        // The shown OUT page reads as its reactions would write it.
        QCOMPARE(Text("LabelDelayL"), QString("Delay:50.0ms"));
        QCOMPARE(Text("LabelOutMicVol"), QString("-40"));
        QCOMPARE(Text("LabelOutMusicVol"), QString("+0"));
        QCOMPARE(Text("LabelOutEchoVol"), QString("+100"));
        QCOMPARE(Text("LabelOutTH"), QString("0dB"));
        QCOMPARE(Text("LabelOutAT"), QString("1ms"));
        QCOMPARE(Text("LabelOutRT"), QString("Attackx1"));
        QCOMPARE(Text("LabelOutRatio"), QString("4"));

        // Loading the same image again moves nothing and sends nothing.
        pages->LoadSettings();
        QVERIFY(TakeRequests().empty());
    }

    void loadOnEachChannelAddressesItsGroup()
    {
        struct Case {
            std::uint8_t channel;
            int left, right; // output lines, -1 none
            const char* prefix;
        };
        const Case cases[] = {{MAIN, 0, 1, "Delay L:"}, {CENTER, 2, -1, "Delay:"}, {SUB, 3, -1, "Delay:"},
                              {SRS, 4, 5, "Delay L:"}};
        for (const Case& c : cases) {
            const int n = c.channel - MAIN;
            Fresh(c.channel, [&] {
                auto& p = DspParams;
                for (int i = 0; i < 6; ++i)
                    p.Delay[std::size_t(i)] = std::uint16_t(100 * (i + 1));
                p.Mute = std::uint8_t(1u << c.left);
                if (c.right >= 0)
                    p.Mute |= std::uint8_t(1u << c.right);
                p.Dyn[std::size_t(n + 1)] = {-200, 30, 5, 6};
                p.OutMix[std::size_t(n)] = {std::uint8_t(0x80 | 11), 12, 13, std::uint8_t(0x80 | 14)};
            });
            pages->LoadSettings();
            QCOMPARE(Bar("TrackBarDelayL")->value(), 100 * (c.left + 1));
            QCOMPARE(Find<QCheckBox>("CheckBoxMuteL")->isChecked(), true);
            QCOMPARE(Text("LabelDelayL"), QString(c.prefix) + DelayMsText(100 * (c.left + 1), "."));
            if (c.right >= 0) {
                QCOMPARE(Bar("TrackBarDelayR")->value(), 100 * (c.right + 1));
                QVERIFY(Find<QCheckBox>("CheckBoxMuteR")->isChecked());
                QCOMPARE(Text("LabelDelayR"), "Delay R:" + DelayMsText(100 * (c.right + 1), "."));
            } else {
                QCOMPARE(Bar("TrackBarDelayR")->value(), 0);
                QVERIFY(!Find<QCheckBox>("CheckBoxMuteR")->isChecked());
            }
            QCOMPARE(Bar("TrackBarOutTH")->value(), -200);
            QCOMPARE(Text("LabelOutTH"), QString("-20dB"));
            QCOMPARE(Text("LabelOutRT"), QString("Attackx5"));
            QCOMPARE(Text("LabelOutMicVol"), QString("-11"));
            QCOMPARE(Text("LabelOutMusicVol"), QString("+12"));
            QCOMPARE(Text("LabelOutEchoVol"), QString("+13"));
            QCOMPARE(Text("LabelOutReverbVol"), QString("-14"));

            // Every request names this channel's group and lines.
            for (const Bytes& r : TakeRequests()) {
                if (r[0] == 0x27)
                    QCOMPARE(int(r[1]), n + 1);
                if (r[0] == 0x2C)
                    QCOMPARE(int(r[1]), n);
            }
        }
    }

    void switchingBetweenEqualGroupsSendsNothingButRelabels()
    {
        Fresh(MAIN, [] {
            auto& p = DspParams;
            p.OutMix[0] = {std::uint8_t(0x80 | 30), 20, 0, 0};
            p.OutMix[1] = {30, 20, 0, 0}; // same levels, other sign
            p.OutMix[3] = {std::uint8_t(0x80 | 30), 20, 0, 0};
            p.Dyn[1] = p.Dyn[2] = p.Dyn[4] = {-50, 10, 2, 3};
            p.Delay = {441, 441, 441, 0, 441, 441};
        });
        pages->LoadSettings();
        QVERIFY(!TakeRequests().empty());
        QCOMPARE(Text("LabelDelayL"), QString("Delay L:10.0ms"));
        QCOMPARE(Text("LabelOutMicVol"), QString("-30"));

        pages->SetChannel(EqChannel::CENTER);
        pages->LoadSettings();
        QVERIFY(TakeRequests().empty());
        QCOMPARE(Text("LabelDelayL"), QString("Delay:10.0ms"));
        QCOMPARE(Text("LabelOutMicVol"), QString("+30"));

        pages->SetChannel(EqChannel::SRS);
        pages->LoadSettings();
        QVERIFY(TakeRequests().empty());
        QCOMPARE(Text("LabelDelayL"), QString("Delay L:10.0ms"));
        QCOMPARE(Text("LabelDelayR"), QString("Delay R:10.0ms"));
        QCOMPARE(Text("LabelOutMicVol"), QString("-30"));

        // SUB holds defaults: each bar that moves stores the default it came
        // from and sends, addressed to SUB's line 3, limiter 3 and group 2.
        pages->SetChannel(EqChannel::SUB);
        pages->LoadSettings();
        EXPECT_SENT({{0x26, 0xB9, 1, 0xB9, 1, 0xB9, 1, 0, 0, 0xB9, 1, 0xB9, 1},
                     {0x27, 3, 0, 0, 1, 0, 1, 1},
                     {0x27, 3, 0, 0, 1, 0, 1, 1},
                     {0x27, 3, 0, 0, 1, 0, 1, 1},
                     {0x27, 3, 0, 0, 1, 0, 1, 1},
                     {0x2C, 2, 0, 0, 0, 0},
                     {0x2C, 2, 0, 0, 0, 0}});
        QCOMPARE(Text("LabelDelayL"), QString("Delay:0.0ms"));
    }

    void loadOnMicMusicEffect()
    {
        const auto prepare = [] {
            auto& p = DspParams;
            p.Delay[0] = 441;
            p.Mute = 0x01;
            p.Dyn[1] = {-100, 500, 3, 4}; // attack above the bar
            p.OutMix[0] = {std::uint8_t(0x80 | 20), 5, 6, 7};
        };
        for (std::uint8_t ch : {MIC, MUSIC, EFFECT}) {
            Fresh(ch, prepare);
            const DspParamsImage before = DspParams;
            pages->LoadSettings();
            // Delays and mutes are left alone; the limiter and the mix show
            // group 0 and neither store nor send.
            QCOMPARE(Bar("TrackBarDelayL")->value(), 0);
            QVERIFY(!Find<QCheckBox>("CheckBoxMuteL")->isChecked());
            QCOMPARE(Bar("TrackBarOutTH")->value(), -100);
            QCOMPARE(Bar("TrackBarOutAT")->value(), 100);
            QCOMPARE(Bar("TrackBarOutMicVol")->value(), 20);
            QCOMPARE(Bar("TrackBarOutReverbVol")->value(), 7);
            QCOMPARE(int(DspParams.Dyn[1].Attack), 500);
            QCOMPARE(DspParams.OutMix[0].MicVol, before.OutMix[0].MicVol);
            QVERIFY(TakeRequests().empty());
        }

        // The shown page's labels are rewritten even where no bar moved.
        Fresh(MIC);
        pages->LoadSettings();
        QCOMPARE(Text("LabelFS"), QString("OFF"));
        QCOMPARE(Text("LabelMicNS"), QString("OFF"));
        QCOMPARE(Text("LabelMicTH"), QString("0dB"));
        QCOMPARE(Text("LabelMicRelease"), QString("Attackx1"));
        QVERIFY(TakeRequests().empty());

        Fresh(MUSIC);
        pages->LoadSettings();
        QCOMPARE(Text("LabelPS"), QString("OFF"));

        Fresh(EFFECT, [] { DspParams.Echo.Delay = 300; });
        Bar("TrackBarDelay")->setValue(300); // already there: the load moves nothing
        TakeRequests();
        DspParams.Reverb.EarlyLate = 0;
        pages->LoadSettings();
        QVERIFY(TakeRequests().empty());
        QCOMPARE(Text("LabelEchoDelay"), QString("300ms"));
        QCOMPARE(Text("LabelReverbEarlyVol"), QString("0%"));
    }

    void loadMicMusicValues()
    {
        struct Case {
            const char* name;
            std::function<void()> prepare;
            const char* bar;
            int position;
            std::vector<Bytes> requests;
        };
        const Case cases[] = {
            {"noise gate -80 is step 0", [] { DspParams.NoiseGate[0] = -80; }, "TrackBarMicNS", 0, {}},
            {"noise gate -90 clamps to 0", [] { DspParams.NoiseGate[0] = -90; }, "TrackBarMicNS", 0, {}},
            {"noise gate -72 is step 2", [] { DspParams.NoiseGate[0] = -72; }, "TrackBarMicNS", 2,
             {{0x24, 0, 0xB8, 0xFF}}},
            {"threshold below the bar", [] { DspParams.Dyn[0].Threshold = -400; }, "TrackBarMicTH", -300,
             {{0x27, 0, 0xD4, 0xFE, 1, 0, 1, 1}}},
            {"threshold above the bar", [] { DspParams.Dyn[0].Threshold = 20; }, "TrackBarMicTH", 0, {}},
            {"release 0 clamps to 1", [] { DspParams.Dyn[0].Release = 0; }, "TrackBarMicRelease", 1, {}},
            {"pitch -9 clamps", [] { DspParams.Pitch = -9; }, "TrackBarPS", -4, {{0x22, 0xFC}}},
            {"fbx 7 clamps", [] { DspParams.Fbx = 7; }, "TrackBarFS", 3, {{0x21, 3}}},
        };
        for (const Case& c : cases) {
            Fresh(MIC, c.prepare);
            pages->LoadSettings();
            QVERIFY2(Bar(c.bar)->value() == c.position, c.name);
            const auto requests = TakeRequests();
            QVERIFY2(requests == c.requests, qPrintable(QString(c.name) + ": " + Show(requests)));
        }
        // A noise gate of -80 stays as it is: the bar did not move.
        Fresh(MIC, [] { DspParams.NoiseGate[0] = -80; });
        pages->LoadSettings();
        QCOMPARE(int(DspParams.NoiseGate[0]), -80);
        QCOMPARE(Text("LabelMicNS"), QString("OFF"));
    }
};

QTEST_MAIN(SettingsPagesTest)
#include "SettingsPagesTest.moc"
