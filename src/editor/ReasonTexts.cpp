#include "editor/ReasonTexts.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cstring>
#include <vector>

namespace ktv {

namespace {

// A text as the core builds it. `nested` names the arguments that are core
// texts themselves (translated in turn; a list joined by "; " item by item);
// the others are numbers, paths or the file's own text. An argument matches
// as much text as it can, unless `numbers` names it: then only a number, so
// that words around it find their own arguments.
struct Template {
    const char* source;
    const char* nested;
    const char* numbers = "";
};

// Longer forms before the shorter ones they contain.
constexpr Template Templates[] = {
    // The import report.
    {QT_TRANSLATE_NOOP("ktv::Reason", "Line %1 \"%2\": not applied: %3"), "3"},
    {QT_TRANSLATE_NOOP("ktv::Reason",
                       "Line %1 \"%2\": left out: the channel has %3 bands and the filters kept change the response more"),
     ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Line %1 \"%2\": band %3 %4 (%5)"), "45", "13"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "%1 %2 Hz Q %3 %4 dB"), "1", "234"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "%1 %2 Hz Q %3"), "1", "23"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "type None"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "an all-pass changes only the phase"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "OFF in the file: bypassed"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "gain clamped from %1 dB"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "gain rounded from %1 dB"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "corner %1 Hz is centre %2 Hz"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "slope S %1 as Q %2"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "slope %1 dB/oct as Q %2"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "bandwidth %1 oct as Q %2"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "T60 %1 ms as Q %2"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Q %1 by default"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "type converted: first order as second order, Fc %1 Hz Q %2 fitted"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Fc %1 Hz held to %2 Hz"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Fc snapped from %1 Hz"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Q %1 held to %2"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Q snapped from %1"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "as given"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "differs by at most %1 dB"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Preamp %1 dB: not applied (no box setting takes it)"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Bands %1..%2: flat (Bell, 0 dB)"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Band %1: flat (Bell, 0 dB)"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Largest difference from the file's response, 20 Hz - 20 kHz: %1 dB (the channel's EQ is switched off)"),
     ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Largest difference from the file's response, 20 Hz - 20 kHz: %1 dB"), ""},
    // A filter line the reader cannot use.
    {QT_TRANSLATE_NOOP("ktv::Reason", "a number is missing after \"%1\""), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "no centre frequency (Fc)"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "no gain"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "no Q or bandwidth"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "a Q, bandwidth, slope or time that is not above 0"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "neither ON nor OFF"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "unknown filter type \"%1\""), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "no filter type"), ""},
    // Files refused.
    {QT_TRANSLATE_NOOP("ktv::Reason", "The file holds no filter line that can be used."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Cannot open the calibration file %1: it is a directory."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Cannot open the calibration file %1: it is not a regular file."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Cannot open the calibration file %1."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Cannot open %1: it is a directory."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Cannot open %1: it is not a regular file."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Cannot open %1."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Cannot read %1."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "%1 is too large for a filter file."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "%1 is too large for a measurement."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "%1 is too large for a calibration file."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Line %1: a frequency and a level are needed."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Line %1: the frequency %2 Hz is not above 0."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Line %1: the frequency %2 Hz does not rise above %3 Hz."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason",
                       "The file holds no frequency response (at least two lines of frequency and level)."),
     ""},
    // The fit.
    {QT_TRANSLATE_NOOP("ktv::Reason", "the measurement needs at least two points"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the measurement's frequencies must rise and every value be a number"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the range must run from a lower to a higher frequency"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the largest boost must be 0 to 12 dB"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the largest cut must be -24 to 0 dB"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the largest boost and cut leave no gain to fit with"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the largest Q must be at least 0.4"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the most the fit may lower the level must be 0 dB or more"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the target curve needs at least two points with rising frequencies"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the tilt must be a number"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the measurement covers less than an octave of the range"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "no band to fit: every band is bypassed or left out"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "no centre-frequency step lies in the range"), ""},
    // Measuring the room.
    {QT_TRANSLATE_NOOP("ktv::Reason", "The recording clipped (the input reached full scale): turn the output level or the microphone gain down and measure again."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The recording is too quiet (its peak is silence): check that the microphone is connected and the right input chosen, then turn the output level or the microphone gain up."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The recording is too quiet (its peak is %1 dBFS): check that the microphone is connected and the right input chosen, then turn the output level or the microphone gain up."), "", "1"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The sample rate must be between 8000 and 384000 Hz."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The sweep length must be between 1 and 10 s."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The range must rise by at least an octave and stay below half the sample rate."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The level must be between -60 and 0 dBFS."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The number of positions to average must be between 1 and 64."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The number of takes must be between 1 and 10."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "No clean take in %1 tries: Dropout at %2 s (%3). The sound card dropped sound: close programs that keep the computer busy and measure again."), "3", "12"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "No clean take in %1 try: Dropout at %2 s (%3). The sound card dropped sound: close programs that keep the computer busy and measure again."), "3", "12"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Dropout at %1 s (%2), measuring again (take %3 of %4)."), "2", "134"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Dropout at %1 s (%2)."), "2", "1"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the input overflowed"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the input ran dry"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the output ran dry"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the output overflowed"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the recording stopped short"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the output fell behind the input"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the recording ends before the sweep does"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the recording went silent"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the recording started after the sweep"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "the recording does not follow the sweep"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Cancelled."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "There is no measurement to average."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The measurements to average do not share their frequencies."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Line %1 of the calibration file has a frequency but no dB value."), "", "1"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "Line %1 of the calibration file: frequencies must be positive and rise from line to line."), "", "1"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The calibration file holds no frequency and dB lines."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "There is no default audio input; choose one."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "There is no default audio output; choose one."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "More than one audio input is called '%1'; give more of the name."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "More than one audio output is called '%1'; give more of the name."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "There is no audio input called '%1'."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "There is no audio output called '%1'."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The audio input stopped delivering sound; check the input device."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The audio input delivers no sound; check the input device."), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The sound system could not start: %1"), ""},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The audio devices could not be opened at %1 Hz: %2"), "", "1"},
    {QT_TRANSLATE_NOOP("ktv::Reason", "The audio devices could not be opened: %1"), ""},
    // A refusal that lists the lines after its first sentence: last, as
    // its pattern would take any text with " Line " in it.
    {QT_TRANSLATE_NOOP("ktv::Reason", "%1 Line %2: %3."), "13", "2"},
};

struct Compiled {
    const Template* from;
    QRegularExpression pattern;
    std::vector<int> order; // the argument number of each capture
};

const std::vector<Compiled>& Patterns()
{
    static const std::vector<Compiled> compiled = [] {
        std::vector<Compiled> out;
        static const QRegularExpression mark(R"(%(\d))");
        for (const Template& t : Templates) {
            const QString source = QString::fromUtf8(t.source);
            QString pattern = "^";
            std::vector<int> order;
            qsizetype at = 0;
            for (auto it = mark.globalMatch(source); it.hasNext();) {
                const auto m = it.next();
                const int n = m.captured(1).toInt();
                pattern += QRegularExpression::escape(source.mid(at, m.capturedStart() - at)) +
                           (std::strchr(t.numbers, char('0' + n)) ? "([-+]?[0-9]+(?:\\.[0-9]+)?)" : "(.*)");
                order.push_back(n);
                at = m.capturedEnd();
            }
            pattern += QRegularExpression::escape(source.mid(at)) + "$";
            out.push_back({&t, QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption), order});
        }
        return out;
    }();
    return compiled;
}

QString Translate(const QString& text, int depth)
{
    if (depth > 8)
        return text;
    for (const Compiled& c : Patterns()) {
        const auto m = c.pattern.match(text);
        if (!m.hasMatch())
            continue;
        QString shown = QCoreApplication::translate("ktv::Reason", c.from->source);
        QStringList args(int(c.order.size()) + 1);
        for (std::size_t i = 0; i < c.order.size(); ++i) {
            const int n = c.order[i];
            QString arg = m.captured(int(i) + 1);
            if (std::strchr(c.from->nested, char('0' + n))) {
                QStringList items = arg.split("; ");
                for (QString& item : items)
                    item = Translate(item, depth + 1);
                arg = items.join("; ");
            }
            if (n < args.size())
                args[n] = arg;
        }
        // All at once, so an argument holding "%2" is not replaced again.
        QString out;
        for (qsizetype i = 0; i < shown.size(); ++i) {
            if (shown[i] == '%' && i + 1 < shown.size() && shown[i + 1].isDigit()) {
                const int n = shown[i + 1].digitValue();
                out += n < args.size() ? args[n] : QString();
                ++i;
            } else {
                out += shown[i];
            }
        }
        return out;
    }
    // A filter type's name, as the band rows show it.
    const QByteArray utf8 = text.toUtf8();
    return QCoreApplication::translate("ktv::FilterType", utf8.constData());
}

} // namespace

QString ReasonText(std::string_view text)
{
    return Translate(QString::fromUtf8(text.data(), qsizetype(text.size())), 0);
}

} // namespace ktv
