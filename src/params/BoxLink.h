#pragma once
// What the program knows about the box it is linked to, in the one place every
// exchange passes through: whether the image has come from that box since the
// link was made, the question asked before the first edit would overwrite a
// box nobody has read, the warning after a failed edit, and noticing that the
// box has gone.

#include "protocol/Wire.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ktv {

// The first-edit question and its answers, in the order Ui().Ask gets them.
inline constexpr const char* UnreadQuestion = "KTV Tune has not read this box's settings yet. Read them first?";
inline constexpr const char* AnswerReadFirstText = "Read from box";
inline constexpr const char* AnswerSendChangeText = "Send my change";
inline constexpr const char* AnswerCancelText = "Cancel";
inline constexpr int AnswerReadFirst = 0;
inline constexpr int AnswerSendChange = 1;
inline constexpr int AnswerCancel = 2;

class BoxLink {
public:
    // Run when the user asks to read before editing: the window's read
    // ("Read from dsp" with its refresh), which then puts the edit that
    // asked on top of what it read and sends it.
    std::function<void()> ReadFromBox;
    // Run when the question is cancelled or closed: the window takes the
    // edit that asked back, so that it shows what it showed before.
    std::function<void()> EditCancelled;
    // Runs once when an exchange on the link fails because the box is gone.
    std::function<void()> BoxGone;
    // Asks the first-edit question and returns the answer's index (-1:
    // closed). Unset: Ui().Ask with the texts above; the window sets one
    // with translated texts.
    std::function<int()> AskUnread;

    // A link was just made: nothing of this box is known yet.
    void LinkMade();
    // The image and the box hold the same settings: a whole read or write
    // went through. Clears the warning mark.
    void ImageMatchesBox();
    [[nodiscard]] bool ImageFromBox() const { return fromBox_; }

    // Called before an edit's exchange (its request); false when it must not go out.
    [[nodiscard]] bool EditMayGo(const std::uint8_t* payload = nullptr, std::size_t length = 0);
    // After the question was answered with a read or cancelled, the rest of
    // the action that asked (a Reset sends a request per band) goes nowhere:
    // the read has sent the edit whole, or the edit was taken back. The
    // window calls this once it is idle again.
    void ResumeEdits() { dropping_ = false; }
    // What the action that asked meant to send, after a read: the request
    // that asked and those dropped after it. The window puts them on top of
    // what was read when the action sets values outright (a Reset, a copy).
    [[nodiscard]] std::vector<std::pair<DspCommand, int>> TakeMeantToSend();
    // An edit's exchange failed: the fields its request carries may differ
    // on the box (none named: only the mark), until a request carrying them
    // goes through or a whole read or write does.
    void EditFailed(const std::uint8_t* payload = nullptr, std::size_t length = 0);
    // Edits of these elements were not sent at all (a read meant to come
    // first failed): marked as failed edits are.
    void EditsNotSent(const std::vector<std::pair<DspCommand, int>>& elements);
    // An edit's exchange went through: the box holds what it carried.
    void EditWent(const std::uint8_t* payload, std::size_t length);

    // What an edit's request carries: a band (PeqBands, index the band, for
    // a band record or its EqBypass flags) or a command's element.
    struct Carried {
        DspCommand Command;
        int Index;
        bool operator==(const Carried&) const = default;
    };
    // The elements whose edits did not reach the box, oldest first.
    [[nodiscard]] const std::vector<Carried>& Unsent() const { return unsent_; }
    [[nodiscard]] bool BandUnsent(int band) const;
    // Any exchange failed: a box that is gone is reported through BoxGone.
    void ExchangeFailed();

    // Exchanges made inside a Whole scope are not edits: whole-image
    // transfers, slot commands and the link command itself.
    class Whole {
    public:
        Whole();
        ~Whole();
        Whole(const Whole&) = delete;
        Whole& operator=(const Whole&) = delete;
    };
    [[nodiscard]] bool InWhole() const { return whole_ > 0; }

private:
    std::vector<Carried> unsent_;
    bool fromBox_ = false;
    bool mayAsk_ = false; // since LinkMade(), until "Send my change"
    bool asking_ = false;
    bool dropping_ = false;
    bool keepDropped_ = false; // the question was answered with a read
    std::vector<Carried> meant_;
    int whole_ = 0;
};

BoxLink& Link();

// The link sequence of every program: opens the box at `path` (empty: the
// first box found) and sends Link(1). Returns whether the box is linked; a box
// that did not answer is closed again.
[[nodiscard]] bool OpenBoxLink(const std::string& path);
// Sends Link(0) when linked, then closes the device.
void CloseBoxLink();

} // namespace ktv
