#pragma once
// The capture set-up's options dialog as a seam: the window asks a prompt object, whose
// real implementation runs Form_OutputCfg and whose test fake answers from a script.

#include <QString>

class QWidget;

// What the operator left in the options dialog, read when it closed.
struct OutputOptions
{
    bool bIsOk = false;        // closed with OK
    bool chk_TimeStamp = true; // "Include timestamp" checked
    bool chk_Source = false;   // "Include a source string" checked
    QString txt_source;        // the source text as typed, blanks included
};

class OptionsPrompt
{
public:
    virtual ~OptionsPrompt() = default;
    // Shows the options modally over owner and returns when they are closed. Serial
    // events and timer ticks go on meanwhile, in a nested event loop.
    virtual OutputOptions ShowOptions(QWidget *owner) = 0;
};
