#include "app/CoreTexts.h"

#include <QCoreApplication>

namespace ktv {

namespace {

// Every text handed through the UserInterface seam, listed so that lupdate
// finds them: the core's (it does not know Qt) and the window's own
// messages, which the command line prints in the same words.
[[maybe_unused]] constexpr const char* Texts[] = {
    QT_TRANSLATE_NOOP("ktv::Core", "no usb device 2"),
    QT_TRANSLATE_NOOP("ktv::Core", "The DSP box was found but cannot be opened: permission denied.\n"
                                   "Install the udev rule 70-ktvtune.rules (see README), then plug the box in again."),
    QT_TRANSLATE_NOOP("ktv::Core", "The DSP box was found but cannot be opened: access denied.\n"
                                   "Close any other program that uses the box, then plug the box in again."),
    QT_TRANSLATE_NOOP("ktv::Core", "Write:ok!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Write:error!"),
    QT_TRANSLATE_NOOP("ktv::Core", "ReadFile:error!"),
    QT_TRANSLATE_NOOP("ktv::Core", "CheckSum:error!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Write:fault!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Read:fault!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Read:Ok!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Error!"),
    QT_TRANSLATE_NOOP("ktv::Core", "the file cannot be opened"),
    QT_TRANSLATE_NOOP("ktv::Core", "the file is shorter than 465 bytes"),
    QT_TRANSLATE_NOOP("ktv::Core", "the file does not start with the preset marker"),
    QT_TRANSLATE_NOOP("ktv::Core", "the file does not end with the preset marker"),
    QT_TRANSLATE_NOOP("ktv::Core", "the checksum does not match (the file is damaged)"),
    QT_TRANSLATE_NOOP("ktv::Core", "it is a directory"),
    QT_TRANSLATE_NOOP("ktv::Core", "it is not a regular file"),
    QT_TRANSLATE_NOOP("ktv::Core", "the file cannot be read"),
    QT_TRANSLATE_NOOP("ktv::Core", "the file is read-only"),
    QT_TRANSLATE_NOOP("ktv::Core", "no file can be created in its folder"),
    QT_TRANSLATE_NOOP("ktv::Core", "the file cannot be written"),
    QT_TRANSLATE_NOOP("ktv::Core", "Connect:ok!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Connect:no!"),
    QT_TRANSLATE_NOOP("ktv::Core", "DSP USB Plugin!"),
    QT_TRANSLATE_NOOP("ktv::Core", "DSP USB Plugout!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Write dsp ok!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Write dsp fault!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Read dsp ok!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Read dsp fault!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Set factory mode ok!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Set factory mode fault!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Set factory mode error!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Reset factory mode Ok!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Reset factory mode fault!"),
    QT_TRANSLATE_NOOP("ktv::Core", "Reset factory mode error!"),
    QT_TRANSLATE_NOOP("ktv::Core", "File name error!"),
};

} // namespace

QString CoreText(std::string_view text)
{
    std::size_t words = text.size();
    while (words > 0 && text[words - 1] >= '0' && text[words - 1] <= '9')
        --words;
    const std::string head(text.substr(0, words));
    return QCoreApplication::translate("ktv::Core", head.c_str()) +
           QString::fromUtf8(text.data() + words, qsizetype(text.size() - words));
}

} // namespace ktv
