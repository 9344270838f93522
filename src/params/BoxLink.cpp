#include "params/BoxLink.h"

#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "params/Commands.h"
#include "params/ImageFields.h"

#include <algorithm>

namespace ktv {

BoxLink::Whole::Whole() { ++Link().whole_; }
BoxLink::Whole::~Whole() { --Link().whole_; }

void BoxLink::LinkMade()
{
    fromBox_ = false;
    mayAsk_ = true;
}

namespace {

// The elements a request carries.
std::vector<BoxLink::Carried> CarriedBy(const std::uint8_t* p, std::size_t length)
{
    std::vector<BoxLink::Carried> carried;
    if (!p || length < 1)
        return carried;
    const auto command = DspCommand(p[0]);
    if (command == DspCommand::PeqBands || command == DspCommand::EqBypass) {
        if (length >= 3)
            for (int k = p[1]; k < p[1] + p[2]; ++k)
                carried.push_back({DspCommand::PeqBands, k});
    } else if (const CommandSpan* span = SpanOf(command)) {
        carried.push_back({command, span->Indexed && length >= 2 ? p[1] : 0});
    }
    return carried;
}

} // namespace

void BoxLink::ImageMatchesBox()
{
    fromBox_ = true;
    unsent_.clear();
    Ui().SetExchangeWarning(false);
}

bool BoxLink::BandUnsent(int band) const
{
    return std::find(unsent_.begin(), unsent_.end(), Carried{DspCommand::PeqBands, band}) != unsent_.end();
}

std::vector<std::pair<DspCommand, int>> BoxLink::TakeMeantToSend()
{
    std::vector<std::pair<DspCommand, int>> elements;
    for (const Carried& c : meant_)
        elements.emplace_back(c.Command, c.Index);
    meant_.clear();
    return elements;
}

bool BoxLink::EditMayGo(const std::uint8_t* payload, std::size_t length)
{
    if (dropping_ && keepDropped_)
        for (const Carried& c : CarriedBy(payload, length))
            if (std::find(meant_.begin(), meant_.end(), c) == meant_.end())
                meant_.push_back(c);
    if (asking_ || dropping_)
        return false; // nothing goes out while the question is open, nor after it in the same action
    // Without a link there is no box whose settings an edit could lose; a
    // link not made by LinkMade() (a script's) is none of the window's.
    if (whole_ > 0 || !Hid().Linked || fromBox_ || !mayAsk_)
        return true;
    asking_ = true;
    const int answer = AskUnread ? AskUnread()
                                 : Ui().Ask(UnreadQuestion, {AnswerReadFirstText, AnswerSendChangeText, AnswerCancelText});
    asking_ = false;
    if (answer == AnswerSendChange) {
        mayAsk_ = false;
        return true;
    }
    // Read first: the window reads the box and sends the edit on top of it.
    // Cancelled or closed: the window takes the edit back and the next edit
    // asks again. Either way this request does not go out as it stands.
    const std::function<void()>& then = answer == AnswerReadFirst ? ReadFromBox : EditCancelled;
    if (then) {
        keepDropped_ = answer == AnswerReadFirst;
        meant_ = keepDropped_ ? CarriedBy(payload, length) : std::vector<Carried>{};
        then();
        dropping_ = true;
    }
    return false;
}

void BoxLink::EditFailed(const std::uint8_t* payload, std::size_t length)
{
    for (const Carried& c : CarriedBy(payload, length))
        if (std::find(unsent_.begin(), unsent_.end(), c) == unsent_.end())
            unsent_.push_back(c);
    Ui().SetExchangeWarning(true);
}

void BoxLink::EditsNotSent(const std::vector<std::pair<DspCommand, int>>& elements)
{
    for (const auto& [command, index] : elements) {
        const Carried c{command, index};
        if (std::find(unsent_.begin(), unsent_.end(), c) == unsent_.end())
            unsent_.push_back(c);
    }
    Ui().SetExchangeWarning(true);
}

void BoxLink::EditWent(const std::uint8_t* payload, std::size_t length)
{
    if (unsent_.empty())
        return;
    bool reached = false;
    for (const Carried& c : CarriedBy(payload, length)) {
        const auto at = std::find(unsent_.begin(), unsent_.end(), c);
        if (at != unsent_.end()) {
            unsent_.erase(at);
            reached = true;
        }
    }
    // The mark stays while any edit is still missing on the box.
    if (reached)
        Ui().SetExchangeWarning(!unsent_.empty());
}

void BoxLink::ExchangeFailed()
{
    HidPro& hid = Hid();
    if (hid.Linked && hid.DeviceGone() && BoxGone)
        BoxGone();
}

BoxLink& Link()
{
    static BoxLink link;
    return link;
}

bool OpenBoxLink(const std::string& path)
{
    HidPro& hid = Hid();
    hid.DevicePath = path;
    hid.OpenDevice();
    hid.Linked = hid.Opened && SendLink(1);
    if (!hid.Linked)
        hid.CloseDevice();
    return hid.Linked;
}

void CloseBoxLink()
{
    HidPro& hid = Hid();
    if (hid.Linked)
        (void)SendLink(0);
    hid.Linked = false;
    hid.CloseDevice();
}

} // namespace ktv
