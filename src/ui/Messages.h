#pragma once

#include <exception>
#include <string>

// Every message box and question of the program goes through here, so that tests can answer them
// without a modal loop. The texts show as they are (plain text), never as markup.

// Shows an information box with the text and waits for the user.
void ShowMessage(const std::string& text);
// Asks a question with the buttons Yes and No; true for Yes. defaultYes picks the button that
// Enter presses.
bool AskYesNo(const std::string& text, bool defaultYes = false);
// Shows the exception's message (what()) in an error box; the program goes on.
void ShowException(const std::exception& e);

// Runs a user-interface handler; an exception that escapes it is shown, and the program goes on.
template <class F> void Guarded(F handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

// What tests put in place of the real boxes.
class IMessages {
public:
    virtual ~IMessages() = default;
    virtual void ShowMessage(const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& text, bool defaultYes) = 0;
};

// Routes the three functions above to messages; nullptr restores the real boxes, captioned with
// the product title. The object is not owned.
void SetMessagesForTesting(IMessages* messages);
