// The window under a Chinese locale: the built-in Simplified Chinese
// translation is found through the locale and replaces the source texts,
// in the window's own captions and in the texts the core hands it.

#include "support/GuiHarness.h"

#include "editor/EditorControls.h"
#include "params/Gloable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>

using namespace ktv;
using namespace ktv::test;

class TranslationTest : public QObject {
    Q_OBJECT
    GuiHarness h;

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
