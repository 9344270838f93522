#pragma once
// The editor's settings page control `PageControlSet`: the MIC, MUSIC, EFFECT
// and OUT pages. Its tab strip is hidden; the page follows the channel it is
// given. Every control stores its field in DspParams and sends its command at
// once. What a control binds to (label format, the image field) is one row of
// its page's table, the field's range and command come from the field's row
// (params/ImageFields); building, the reactions, LoadSettings and the label
// rewrite all read that row.

#include "params/Gloable.h"

#include <QTabWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class QLabel;

namespace ktv {

// One row of a page's table, and where a row stands: its page and its index.
struct SettingBinding;
struct SettingRow {
    int page;
    int index;
};

// Value-label texts, shared with the tests. `decimalPoint` is the locale's.
[[nodiscard]] QString ThresholdText(int tenthsDb, const QString& decimalPoint);
[[nodiscard]] QString DelayMsText(int samples, const QString& decimalPoint);
[[nodiscard]] QString PitchText(int step);
[[nodiscard]] QString MixText(std::uint8_t mixByte);

class SettingsPages : public QTabWidget {
    Q_OBJECT
public:
    explicit SettingsPages(QWidget* parent = nullptr);

    // The channel the pages act for: shows its page (MIC, MUSIC, EFFECT or
    // OUT) and points the OUT page's reactions at its output group and lines.
    void SetChannel(EqChannel channel);
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

private:
    // The widgets of one row: its control (track bar, check box or radio
    // group) and its value label, if it has one.
    struct Control {
        QWidget* widget = nullptr;
        QLabel* label = nullptr;
    };
    struct Page {
        QWidget* sheet = nullptr;
        std::vector<Control> controls;
    };

    // One function builds each page's widgets from its table.
    void BuildGridPage(int page, const char* boxName);
    void BuildEffectPage();
    Control& MakeControl(SettingRow row, QWidget* parent);

    void React(SettingRow row);
    void ToggleMixSign(SettingRow row);
    // The output group or line a row addresses for the current channel, 0 for
    // rows that address neither; none where the channel lacks it.
    [[nodiscard]] std::optional<int> Address(const SettingBinding& b) const;
    [[nodiscard]] QString LabelText(const SettingBinding& b, int position, int stored) const;
    void RewriteShownLabels();

    std::uint8_t channel_ = 0;
    std::array<Page, 4> pages_{};
};

} // namespace ktv
