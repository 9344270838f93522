#pragma once
// The editor's settings page control `PageControlSet`: the MIC, MUSIC, EFFECT
// and OUT pages. Its tab strip is hidden; the page follows the editor's
// channel. Every control stores its field in DspParams and sends its command
// at once.

#include "params/Gloable.h"

#include <QTabWidget>

#include <cstdint>
#include <optional>

class QCheckBox;
class QLabel;
class QSlider;

namespace ktv {

class ClickLabel;
class RadioGroup;

// Value-label texts, shared with the tests. `decimalPoint` is the locale's.
[[nodiscard]] QString ThresholdText(int tenthsDb, const QString& decimalPoint);
[[nodiscard]] QString DelayMsText(int samples, const QString& decimalPoint);
[[nodiscard]] QString PitchText(int step);
[[nodiscard]] QString MixText(std::uint8_t mixByte);

class SettingsPages : public QTabWidget {
    Q_OBJECT
public:
    // `channel` is the editor's Channel byte; the OUT page's reactions read it
    // at the moment they run.
    SettingsPages(const std::uint8_t& channel, QWidget* parent = nullptr);

    // Shows the page of a channel (MIC, MUSIC, EFFECT or OUT).
    void ShowPageFor(EqChannel channel);
    // Shows or hides LabelDelayR, TrackBarDelayR and CheckBoxMuteR.
    void ShowRightLine(bool visible);
    // Sets every control of the four pages from DspParams for the current
    // channel, then rewrites every label of the shown page.
    void LoadSettings();

    // Output group of the current channel; none on MIC, MUSIC and EFFECT.
    [[nodiscard]] std::optional<int> OutputGroup() const;

    // Change and click reactions. Each reads its control, stores the field,
    // writes the label and sends the command last.
    void TrackBarMicTHChange();
    void TrackBarMicAttackChange();
    void TrackBarMicReleaseChange();
    void TrackBarMicRatioChange();
    void TrackBarFSChange();
    void TrackBarMicNSChange();
    void TrackBarPSChange();
    void RadioGroupInputClick();
    void TrackBarEchoPreLChange();
    void TrackBarDelayChange();
    void TrackBarRepeatChange();
    void TrackBarDampChange();
    void TrackBarReverbPreDelayChange();
    void TrackBarReverbEarlyVolChange();
    void TrackBarReverbTimeChange();
    void TrackBarReverbDampChange();
    void TrackBarOutMicVolChange();
    void TrackBarOutMusicVolChange();
    void TrackBarOutEchoVolChange();
    void TrackBarOutReverbVolChange();
    void LabelOutMicVolClick();
    void LabelOutMusicVolClick();
    void LabelOutEchoVolClick();
    void LabelOutReverbVolClick();
    void TrackBarOutTHChange();
    void TrackBarOutATChange();
    void TrackBarOutRTChange();
    void TrackBarOutRatioChange();
    void TrackBarDelayLChange();
    void TrackBarDelayRChange();
    void CheckBoxMuteLClick();
    void CheckBoxMuteRClick();

    // MIC page (TabSheet1).
    QWidget* TabSheet1;
    QSlider* TrackBarMicTH;
    QSlider* TrackBarMicAttack;
    QSlider* TrackBarMicRelease;
    QSlider* TrackBarMicRatio;
    QSlider* TrackBarFS;
    QSlider* TrackBarMicNS;
    QLabel* LabelMicTH;
    QLabel* LabelMicAttack;
    QLabel* LabelMicRelease;
    QLabel* LabelMicRatio;
    QLabel* LabelFS;
    QLabel* LabelMicNS;

    // MUSIC page (TabSheet2).
    QWidget* TabSheet2;
    QSlider* TrackBarPS;
    QLabel* LabelPS;
    RadioGroup* RadioGroupInput;

    // EFFECT page (TabSheet3).
    QWidget* TabSheet3;
    QSlider* TrackBarEchoPreL;
    QSlider* TrackBarDelay;
    QSlider* TrackBarRepeat;
    QSlider* TrackBarDamp;
    QSlider* TrackBarReverbPreDelay;
    QSlider* TrackBarReverbEarlyVol;
    QSlider* TrackBarReverbTime;
    QSlider* TrackBarReverbDamp;
    QLabel* LabelEchoPreDelay;
    QLabel* LabelEchoDelay;
    QLabel* LabelEchoRepeat;
    QLabel* LabelEchoDamp;
    QLabel* LabelReverbPreDelay;
    QLabel* LabelReverbEarlyVol;
    QLabel* LabelReverbTime;
    QLabel* LabelReverbDamp;

    // OUT page (TabSheet4).
    QWidget* TabSheet4;
    QSlider* TrackBarOutMicVol;
    QSlider* TrackBarOutMusicVol;
    QSlider* TrackBarOutEchoVol;
    QSlider* TrackBarOutReverbVol;
    ClickLabel* LabelOutMicVol;
    ClickLabel* LabelOutMusicVol;
    ClickLabel* LabelOutEchoVol;
    ClickLabel* LabelOutReverbVol;
    QSlider* TrackBarOutTH;
    QSlider* TrackBarOutAT;
    QSlider* TrackBarOutRT;
    QSlider* TrackBarOutRatio;
    QLabel* LabelOutTH;
    QLabel* LabelOutAT;
    QLabel* LabelOutRT;
    QLabel* LabelOutRatio;
    QLabel* LabelDelayL;
    QSlider* TrackBarDelayL;
    QCheckBox* CheckBoxMuteL;
    QLabel* LabelDelayR;
    QSlider* TrackBarDelayR;
    QCheckBox* CheckBoxMuteR;

private:
    struct MixControl {
        QSlider* bar;
        ClickLabel* label;
        std::uint8_t OutputMixParams::*field;
    };

    void BuildMicPage();
    void BuildMusicPage();
    void BuildEffectPage();
    void BuildOutPage();

    void MixLevelChange(const MixControl& mix);
    void MixSignToggle(const MixControl& mix);
    void OutDynamicsChange(QSlider* bar, QLabel* label);
    void DelayChange(bool right);
    void MuteClick(bool right);
    void WriteDelayLabel(bool right, int samples);
    void RewriteShownLabels();

    const std::uint8_t& channel_;
    MixControl mix_[4]{};
};

} // namespace ktv
