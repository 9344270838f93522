// The window under a Chinese locale: the built-in Simplified Chinese
// translation is found through the locale and replaces the source texts,
// in the window's own captions and in the texts the core hands it.

#include "support/GuiHarness.h"

#include "app/Help.h"
#include "editor/EditorControls.h"
#include "editor/FitPanel.h"
#include "editor/ReasonTexts.h"
#include "measure/Calibration.h"
#include "measure/Sweep.h"
#include "params/Gloable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <cmath>

using namespace ktv;
using namespace ktv::test;

namespace {

// The Latin words of a text the user reads in Chinese that are not its own
// words: the quoted text of the file, file names and paths, and the tokens
// that stay as they are in both languages (units, filter fields, channels).
QStringList EnglishWords(QString text, const QStringList& own)
{
    for (const QString& o : own)
        text.remove(o);
    text.remove(QRegularExpression("\"[^\"\\n]*\""));
    static const QStringList kept = {"Hz", "kHz", "dB", "Q", "Fc", "S", "ms", "T60", "ON", "OFF", "RMS",
                                     "MIC", "MUSIC", "MAIN", "EQ", "PEQ"};
    QStringList found;
    static const QRegularExpression word("[A-Za-z][A-Za-z0-9']*");
    for (auto it = word.globalMatch(text); it.hasNext();) {
        const QString w = it.next().captured();
        if (!kept.contains(w))
            found << w;
    }
    return found;
}

// Every text a person sees in a window: captions, field texts with their
// units, list entries, table cells and headers.
QStringList VisibleTexts(QWidget* window)
{
    QStringList texts{window->windowTitle()};
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window))
            continue;
        if (auto* l = qobject_cast<QLabel*>(w))
            texts << l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            texts << b->text();
        else if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                texts << c->itemText(i);
        else if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
            texts << spin->text();
        else if (auto* e = qobject_cast<QPlainTextEdit*>(w))
            texts << e->toPlainText();
        else if (auto* t = qobject_cast<QTableWidget*>(w))
            for (int r = 0; r < t->rowCount(); ++r)
                for (int c = 0; c < t->columnCount(); ++c) {
                    if (t->item(r, c))
                        texts << t->item(r, c)->text();
                    if (r == 0 && t->horizontalHeaderItem(c))
                        texts << t->horizontalHeaderItem(c)->text();
                }
    }
    return texts;
}

} // namespace

class TranslationTest : public QObject {
    Q_OBJECT
    GuiHarness h;
    QTemporaryDir dir;

    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    // A room with a few peaks and dips, as a measurement tool exports it.
    QString WriteRoom()
    {
        QByteArray text = "* Freq(Hz) SPL(dB)\n";
        for (int i = 0; i <= 300; ++i) {
            const double hz = 20.0 * std::pow(1000.0, i / 300.0);
            const double db = 75 + 6 * std::exp(-std::pow(std::log2(hz / 80), 2) * 8) -
                              4 * std::exp(-std::pow(std::log2(hz / 2500), 2) * 4);
            text += QByteArray::number(hz, 'f', 2) + " " + QByteArray::number(db, 'f', 2) + "\n";
        }
        return Write("room.txt", text);
    }

private slots:
    void init() { h.Start(); }
    void cleanup() { h.Stop(); }

    void captionsAreChinese()
    {
        TFormMain& f = h.Form();
        QCOMPARE(h.Find<QPushButton>("ConnectBitBtn")->text(), QString::fromUtf8("连接"));
        QCOMPARE(h.Find<QCheckBox>("CheckBoxAuto")->text(), QString::fromUtf8("自动读取"));
        QCOMPARE(h.Find<QPushButton>("BitBtnReset")->text(), QString::fromUtf8("复位"));
        QCOMPARE(f.menuBar()->actions()[0]->text(), QString::fromUtf8("文件"));
        QCOMPARE(f.PageControl1()->tabText(7), QString::fromUtf8("系统"));
        QCOMPARE(f.StatusText(0), QString::fromUtf8("未连接!"));
        // The box's channel names are what is printed on it: they stay.
        QCOMPARE(f.PageControl1()->tabText(0), QString("MIC"));

        // A caption built with a number, and a core text through the seam.
        h.Find<QSlider>("TrackBarMicVol")->setValue(12);
        QCOMPARE(h.Find<CaptionPanel>("PanelMicVol")->Caption(), QString::fromUtf8("话筒:12"));
        Hid().CloseDevice();
        h.box->Present = false;
        f.ConnectBitBtnClick();
        QCOMPARE(f.StatusText(0), QString::fromUtf8("连接:失败!"));
    }

    void typeListSpeaksChineseAndStillSetsTheType()
    {
        TypeSelector* type = h.Find<TypeSelector>("FTypeSel1");
        QCOMPARE(type->currentText(), QString::fromUtf8("峰值"));
        type->setEditText(QString::fromUtf8("低架"));
        type->showPopup();
        type->hidePopup();
        QCoreApplication::processEvents();
        QCOMPARE(DspParams.Band[0].Flags & FlagTypeMask, 3); // Low Shelf
        QCOMPARE(h.TakeRequests(), std::vector<Bytes>{PeqBandsPayload(0)});
    }

    void coreTextsAreTranslatedKeepingTheirNumbers_data()
    {
        QTest::addColumn<QString>("core");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "Read:fault!" << QString::fromUtf8("读:失败!");
        QTest::newRow("checksum") << "CheckSum:error!64" << QString::fromUtf8("校验和:错误!64");
        QTest::newRow("error code") << "ReadFile:error!1460" << QString::fromUtf8("读取:错误!1460");
        QTest::newRow("number only") << "1" << "1";
        QTest::newRow("unknown") << "Something else 5" << "Something else 5";
    }
    void coreTextsAreTranslatedKeepingTheirNumbers()
    {
        QFETCH(QString, core);
        QFETCH(QString, shown);
        h.Form().SetStatus(StatusPanel::Exchange, core.toStdString());
        QCOMPARE(h.Form().StatusText(1), shown);
    }

    // Every kind of line the import report has, in Chinese; the file's own
    // text stays quoted as it was.
    void importReportIsChinese()
    {
        // One file of each: every note a kept band can have, lines not
        // applied; a few filters and flat bands; more filters than bands.
        const QByteArray files[] = {
            "Filter Settings file\n"
            "Preamp: -4.5 dB\n"
            "Filter  1: ON  PK       Fc   63.2 Hz  Gain  -6.0 dB  Q  4.10\n"
            "Filter  2: OFF PK       Fc   1000 Hz  Gain   3.0 dB  Q  1.00\n"
            "Filter  3: ON  HSC      Fc   8000 Hz  Gain  -2.5 dB  Q  0.70\n"
            "Filter  4: ON  LS 12dB  Fc   120 Hz  Gain  3.04 dB\n"
            "Filter  5: ON  PK       Fc   300 Hz  Gain  -30 dB  BW Oct 0.5\n"
            "Filter  6: ON  PK       Fc   500 Hz  Gain  -2 dB  T60 target 300 ms\n"
            "Filter  7: ON  LP1      Fc   15000 Hz\n"
            "Filter  8: ON  None\n"
            "Filter  9: ON  AP       Fc   1000 Hz  Q 0.7\n"
            "Filter 10: ON  XYZ      Fc   2000 Hz\n"
            "Filter 11: ON  PK       Fc   2000 Hz  Gain\n",
            "Filter  1: ON  HP       Fc   10 Hz\n"
            "Filter  2: ON  PK       Fc   2000 Hz  Gain  1 dB  Q  40\n"
            "Filter  3: ON  LSC 6 dB Fc   200 Hz  Gain  2 dB\n"
            "Filter  4: ON  LPQ      Fc   12000 Hz\n",
            "Filter  1: ON  PK  Fc 100 Hz Gain 6 dB Q 1\nFilter  2: ON  PK  Fc 200 Hz Gain 6 dB Q 1\n"
            "Filter  3: ON  PK  Fc 400 Hz Gain 6 dB Q 1\nFilter  4: ON  PK  Fc 800 Hz Gain 6 dB Q 1\n"
            "Filter  5: ON  PK  Fc 1600 Hz Gain 6 dB Q 1\nFilter  6: ON  PK  Fc 3200 Hz Gain 6 dB Q 1\n"
            "Filter  7: ON  PK  Fc 6400 Hz Gain 6 dB Q 1\nFilter  8: ON  PK  Fc 12800 Hz Gain 0.5 dB Q 1\n"};
        QString all;
        QWidget* dialog = h.Form().findChild<QWidget*>("ImportReportDialog");
        for (const QByteArray& text : files) {
            QVERIFY(h.Form().ImportFilters(Write("eq.txt", text)));
            QVERIFY(dialog->isVisible());
            for (const QString& shown : VisibleTexts(dialog))
                QVERIFY2(EnglishWords(shown, {"eq.txt"}).isEmpty(),
                         qPrintable(shown + " | " + EnglishWords(shown, {"eq.txt"}).join(' ')));
            all += h.Form().ImportReport()->toPlainText();
        }
        const QString& report = all;
        // Each kind of note was made (so the check below covers them all).
        for (const char* note : {"已旁通", "取整", "限定到范围内", "换算为 Q", "倍频程", "T60", "一阶按二阶", "限定为",
                                 "对齐到档位", "类型为无", "全通", "略去", "前级增益", "平直", "最多相差", "未知的滤波器类型",
                                 "后缺少数值", "最大差值"})
            QVERIFY2(report.contains(QString::fromUtf8(note)), qPrintable(QString::fromUtf8(note) + "\n" + report));
        QVERIFY2(report.contains(QString::fromUtf8("第 3 行 \"Filter  1: ON  PK       Fc   63.2 Hz  Gain  -6.0 dB  Q  "
                                                   "4.10\"：第 1 段 峰值 63.2 Hz Q 4.1 -6.0 dB")),
                 qPrintable(report));
    }

    void refusedFilesSayWhyInChinese()
    {
        const QString lines = Write("bad.txt", "Filter  1: ON  PK       Fc   100 Hz  Gain\n"
                                               "Filter  2: MAYBE PK Fc 100 Hz\n"
                                               "Filter  3: ON  PK       Fc   100 Hz  Q 1\n"
                                               "Filter  4: ON  PK       Gain 1 dB Q 1\n"
                                               "Filter  5: ON  PK       Fc 100 Hz Gain 1 dB\n"
                                               "Filter  6: ON  PK       Fc 100 Hz Gain 1 dB Q 0\n"
                                               "Filter  7: ON\n");
        const QString missing = dir.filePath("missing.txt");
        const QString room = Write("room.frd", "100 70\n50 71\n");
        const QString tooShort = Write("one.frd", "100 70\n");
        const QString zero = Write("zero.frd", "0 70\n100 71\n");
        const QString words = Write("words.frd", "100\n200 70\n");
        struct Case {
            QString path;
            bool filters;
            const char* says;
        } cases[] = {{lines, true, "没有可用的滤波器行"},  {missing, true, "无法打开"},
                     {missing, false, "无法打开"},        {room, false, "没有高于"},
                     {tooShort, false, "没有频率响应"},    {zero, false, "不大于 0"},
                     {words, false, "需要频率和电平"}};
        for (const Case& c : cases) {
            h.ui.rec.messages.clear();
            QVERIFY(!(c.filters ? h.Form().ImportFilters(c.path) : h.Form().LoadMeasurement(c.path)));
            QCOMPARE(h.ui.rec.messages.size(), std::size_t(1));
            const QString shown = QString::fromStdString(h.ui.rec.messages[0]);
            QVERIFY2(shown.contains(QString::fromUtf8(c.says)), qPrintable(shown));
            QVERIFY2(EnglishWords(shown, {c.path}).isEmpty(), qPrintable(shown));
        }
        // The lines of the first file, each with its reason.
        h.ui.rec.messages.clear();
        h.Form().ImportFilters(lines);
        const QString shown = QString::fromStdString(h.ui.rec.messages.at(0));
        for (const char* reason : {"后缺少数值", "既不是 ON 也不是 OFF", "没有增益", "没有中心频率", "没有 Q 或带宽",
                                   "不大于 0", "没有滤波器类型"})
            QVERIFY2(shown.contains(QString::fromUtf8(reason)), qPrintable(shown));
    }

    // What the room measurement refuses, as the core words it, shown in
    // Chinese with its numbers and names kept.
    void measurementReasonsAreChinese()
    {
        std::vector<std::string> reasons(6);
        QVERIFY(!measure::CheckRecording(std::vector<float>(4800, 1.0f), &reasons[0]));
        QVERIFY(!measure::CheckRecording(std::vector<float>(4800, 0.001f), &reasons[1]));
        QVERIFY(!measure::CheckRecording(std::vector<float>(4800, 0.0f), &reasons[2]));
        measure::SweepPlan tooLong;
        tooLong.Seconds = 11;
        QVERIFY(!measure::CheckSweepPlan(tooLong, &reasons[3]));
        measure::Calibration cal;
        QVERIFY(!measure::ReadCalibrationFile(dir.filePath("mic.cal").toStdString(), cal, &reasons[4]));
        QVERIFY(!measure::ParseCalibration("20 -1.5\n100\n", cal, &reasons[5]));
        const char* says[] = {"削波", "-60 dBFS", "没有声音", "扫频长度", "无法打开校准文件", "第 2 行"};
        for (std::size_t i = 0; i < reasons.size(); ++i) {
            const QString shown = ReasonText(reasons[i]);
            QVERIFY2(shown.contains(QString::fromUtf8(says[i])), qPrintable(shown));
            QVERIFY2(EnglishWords(shown, {dir.filePath("mic.cal"), "dBFS"}).isEmpty(), qPrintable(shown));
        }
    }

    void guideIsChineseAndNamesWhatTheWindowShows()
    {
        h.Form().findChild<QAction*>("Help2")->trigger();
        THelpBox* help = h.Form().HelpBox();
        QVERIFY(help->isVisible());
        const QString text = help->Text()->toPlainText();
        QVERIFY2(text.contains(QString::fromUtf8("KTV Tune 使用指南")), qPrintable(text.left(200)));
        const QStringList missing = MissingFromGuide(h.Form(), text);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
        help->close();
    }

    void fitPanelIsChinese()
    {
        const QString room = WriteRoom();
        QVERIFY(h.Form().LoadMeasurement(room));
        h.Form().findChild<QAction*>("FitToMeasurement1")->trigger();
        TFitPanel* panel = h.Form().FitPanel();
        QVERIFY(panel && panel->isVisible());
        h.Form().Files().Choose = [&](const FileQuestion&) { return room; };
        panel->findChild<QPushButton*>("FitMeasurementFile")->click();
        auto* target = panel->findChild<QComboBox*>("FitTarget");
        target->setCurrentIndex(1); // a tilt, so its field is in use
        panel->findChild<QPushButton*>("FitButton")->click();
        QVERIFY(panel->Result());
        QCoreApplication::processEvents();
        for (const QString& text : VisibleTexts(panel))
            QVERIFY2(EnglishWords(text, {"room.txt"}).isEmpty(), qPrintable(text));

        // The tilt's unit is shown whole, not clipped by the row.
        auto* tilt = panel->findChild<QDoubleSpinBox*>("FitTilt");
        QVERIFY(tilt->suffix().contains(QString::fromUtf8("倍频程")));
        QVERIFY2(tilt->width() >= tilt->sizeHint().width(),
                 qPrintable(QString("%1 < %2").arg(tilt->width()).arg(tilt->sizeHint().width())));

        // A fit refused for its options says why in Chinese.
        panel->findChild<QDoubleSpinBox*>("FitMaxBoost")->setValue(0);
        panel->findChild<QDoubleSpinBox*>("FitMaxCut")->setValue(0);
        panel->findChild<QPushButton*>("FitButton")->click();
        const QString errors = panel->findChild<QLabel*>("FitErrors")->text();
        QVERIFY2(errors.contains(QString::fromUtf8("没有留下可拟合的增益")), qPrintable(errors));
        QVERIFY2(EnglishWords(errors, {}).isEmpty(), qPrintable(errors));
    }
};

int main(int argc, char** argv)
{
    // A desktop in China, whatever locale the tests were started under.
    qputenv("LANG", "zh_CN.UTF-8");
    qunsetenv("LC_ALL");
    qunsetenv("LC_MESSAGES");
    QApplication app(argc, argv);
    TranslationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TranslationTest.moc"
