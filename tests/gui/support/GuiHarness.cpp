#include "support/GuiHarness.h"

#include "app/Theme.h"
#include "app/Translations.h"
#include "params/Commands.h"
#include "params/Gloable.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFocusEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

namespace ktv::test {

void GuiHarness::Start()
{
    // As the program does: the language of the locale the tests run under
    // (C for every test but the one that checks the translation).
    static const bool translated = InstallTranslations(*QCoreApplication::instance());
    (void)translated;
    if (inTempFolder) {
        workDir = std::make_unique<QTemporaryDir>();
        startDir_ = QDir::currentPath();
        QDir::setCurrent(workDir->path());
    }
    if (!keepSettings || !settingsDir) {
        settingsDir = std::make_unique<QTemporaryDir>();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir->path());
        // The boxes' saved states too stay in the test's folder.
        qputenv(DataHomeVariable, QDir::toNativeSeparators(settingsDir->path() + "/data").toLocal8Bit());
    }
    session.emplace(ui);
    box = &session->box;
    QVERIFY(Hid().Opened);
    form = std::make_unique<TFormMain>();
    ui.form = form.get();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QTRY_VERIFY(Editor().GridCount() > 0);
    QApplication::processEvents();
    ClearTraffic();
    ui.rec.Clear();
}

void GuiHarness::Stop()
{
    if (form) {
        form->close();
        form.reset();
    }
    session.reset();
    box = nullptr;
    if (workDir) {
        QDir::setCurrent(startDir_);
        workDir.reset();
    }
}

void GuiHarness::SelectTab(int tab) { form->PageControl1()->setCurrentIndex(tab); }

Bytes PeqBandsPayload(int band)
{
    Bytes p{std::uint8_t(DspCommand::PeqBands), std::uint8_t(band), 1};
    std::uint8_t record[BandRecordSize];
    EncodeBandRecord(DspParams.Band[std::size_t(band)], record);
    p.insert(p.end(), record, record + BandRecordSize);
    return p;
}

Bytes EqBypassPayload(int first, int count)
{
    Bytes p{std::uint8_t(DspCommand::EqBypass), std::uint8_t(first), std::uint8_t(count)};
    for (int i = 0; i < count; ++i)
        p.push_back(DspParams.Band[std::size_t(first + i)].Flags);
    return p;
}

Bytes MasterVolumePayload()
{
    return {std::uint8_t(DspCommand::MasterVolume), DspParams.MicVol, DspParams.MusicVol, DspParams.EffectVol};
}

Bytes MaxVolumePayload()
{
    Bytes p{std::uint8_t(DspCommand::MaxVolume)};
    p.insert(p.end(), DspParams.MaxVol.begin(), DspParams.MaxVol.end());
    return p;
}

void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

bool ShowsConnectGlyph(const QPushButton* button, int index)
{
    const QPixmap glyph = ConnectGlyph(index);
    const QImage want = glyph.toImage().convertToFormat(QImage::Format_ARGB32);
    return button->icon().pixmap(glyph.size()).toImage().convertToFormat(QImage::Format_ARGB32) == want;
}

void LeaveFocus(QWidget* widget)
{
    QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(widget, &event);
}

QStringList MissingFromGuide(TFormMain& form, const QString& guide)
{
    QStringList wanted;
    for (QAction* top : form.menuBar()->actions())
        if (QMenu* menu = top->menu())
            for (QAction* item : menu->actions())
                if (QStringList{"MeasureSweep1", "LiveAnalyser1", "FitToMeasurement1", "RestoreBoxState1"}.contains(
                        item->objectName()))
                    wanted << menu->title() + QString::fromUtf8(" › ") + item->text();
    if (wanted.size() != 4)
        return {"the menu items themselves"};
    for (const char* field : {"Calibration file", "Positions to average"})
        wanted << QCoreApplication::translate("ktv::SweepDialog", field);
    QStringList missing;
    for (const QString& w : wanted)
        if (!guide.contains(w))
            missing << w;
    return missing;
}

} // namespace ktv::test
