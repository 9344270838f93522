#pragma once
// The editor's settings page control `PageControlSet`: the MIC, MUSIC, EFFECT
// and OUT pages. Its tab strip is hidden; the page follows the editor's
// channel. Every control stores its field in DspParams and sends its command
// at once.

#include "params/Gloable.h"

#include <QTabWidget>

#include <cstdint>

namespace ktv {

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

private:
    const std::uint8_t& channel_;
};

} // namespace ktv
