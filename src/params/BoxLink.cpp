#include "params/BoxLink.h"

#include "base/UserInterface.h"
#include "device/HidPro.h"
#include "params/Commands.h"

namespace ktv {

BoxLink::Whole::Whole() { ++Link().whole_; }
BoxLink::Whole::~Whole() { --Link().whole_; }

void BoxLink::LinkMade()
{
    fromBox_ = false;
    mayAsk_ = true;
}

void BoxLink::ImageMatchesBox()
{
    fromBox_ = true;
    Ui().SetExchangeWarning(false);
}

bool BoxLink::EditMayGo()
{
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
        then();
        dropping_ = true;
    }
    return false;
}

void BoxLink::EditFailed() { Ui().SetExchangeWarning(true); }

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
