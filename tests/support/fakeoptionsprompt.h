#pragma once
// An options prompt for window tests, answered from a script: each ShowOptions takes the
// next answer of `answers`; with none left it answers as Cancel does and counts the call
// in `unexpected`. `whileShown` runs inside ShowOptions, where the real dialog's modal
// wait would be, e.g. to feed received characters.

#include "capture/optionsprompt.h"

#include <deque>
#include <functional>

class FakeOptionsPrompt : public OptionsPrompt
{
public:
    std::deque<OutputOptions> answers;
    std::function<void()> whileShown;
    int shown = 0;            // number of ShowOptions calls
    int unexpected = 0;       // calls with no answer left
    QWidget *owner = nullptr; // the owner of the last ShowOptions

    // OK with the dialog's initial options: timestamp on, no source string.
    static OutputOptions ok()
    {
        OutputOptions options;
        options.bIsOk = true;
        return options;
    }

    OutputOptions ShowOptions(QWidget *ownerWidget) override
    {
        ++shown;
        owner = ownerWidget;
        if (whileShown)
            whileShown();
        if (answers.empty()) {
            ++unexpected;
            return {};
        }
        const OutputOptions answer = answers.front();
        answers.pop_front();
        return answer;
    }
};
