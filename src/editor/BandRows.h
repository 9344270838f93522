#pragma once
// The band rows under the chart: captions with Reset and the channel's
// Bypass, then one row per band (type, Fc, gain and Q with their arrows,
// Bypass). The rows show values and report what the user did; the editor
// decides what that does to the band.

#include "editor/EditorControls.h"
#include "params/Gloable.h"

#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QGroupBox;
class QHBoxLayout;
class QPushButton;
class QScrollArea;

namespace ktv {

inline constexpr int ShownRows = 7;  // rows 1..7 are the ones ever addressed
inline constexpr int FormRows = 14;  // rows 8..14 exist but stay hidden

enum class BandField { Fc, Gain, Q };

// The name a row shows for filter type `code`, in the user's language;
// empty for a code no type has.
QString FilterTypeText(std::size_t code);

class BandRows : public QWidget {
    Q_OBJECT
public:
    explicit BandRows(QWidget* parent = nullptr);

    // Rows 1..count shown, the strip as wide as they need.
    void ShowCount(int count);
    // The row's type, Fc, gain and Q as the band has them.
    void ShowBand(int r, const PeqBand& band);
    // Ticks the row's Bypass; a change runs its reaction unless `quiet`.
    void ShowBypassed(int r, bool bypassed, bool quiet = false);
    void ShowChannelBypassed(bool bypassed);
    // Marks the row (colour and tooltip) while its band did not reach the box.
    void ShowUnsent(int r, bool unsent);
    [[nodiscard]] bool Unsent(int r) const;
    // The first fill before anything is connected: the type as typed text.
    void FillAtCreation(int r, const PeqBand& band);
    // Rows 8..14, built once the window is on screen.
    void BuildHiddenRows();

    // The filter type code the row's type text names (in any case); -1 for none.
    [[nodiscard]] int TypeCode(int r) const;
    [[nodiscard]] bool Bypassed(int r) const;
    [[nodiscard]] bool ChannelBypassed() const;
    NumberEdit* Edit(int r, BandField field) const;

    // Decides on each key typed into a value edit (true: let it in).
    std::function<bool(int r, BandField field, char16_t key)> KeyFilter;

signals:
    void typeChosen(int r);
    void bypassToggled(int r);
    void arrowStepped(int r, ktv::BandField field, ktv::ArrowAction action);
    // The edit was left (focus out): its text is the new value.
    void valueEntered(int r, ktv::BandField field);
    void resetClicked();
    void channelBypassToggled();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        QGroupBox* box = nullptr;
        TypeSelector* type = nullptr;
        std::array<NumberEdit*, 3> edits{};   // by BandField
        std::array<ArrowPair*, 3> arrows{};   // by BandField
        QCheckBox* en = nullptr;
    };

    QGroupBox* BuildRow(int r, QWidget* parent);
    void WireRow(int r);
    const Row& At(int r) const { return rows_[std::size_t(r)]; }

    std::array<Row, FormRows + 1> rows_{};
    QCheckBox* fenAll_ = nullptr;
    QPushButton* reset_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    int rowWidth_ = 0; // every row the same, set by the font when the first is built
    QHBoxLayout* strip_ = nullptr;
};

// Band values as the edits show them: rounded half up to one decimal and to
// at most `precision` significant digits, written with one decimal.
QString FormatBandValue(double value, int precision);

} // namespace ktv
