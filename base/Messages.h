#pragma once
// Every message box of the program goes through this seam, so the window shows real boxes,
// the command-line tool prints, and tests capture the text and choose the answer.
#include <functional>
#include <string>
#include <vector>

enum class TMessageKind {
    Error,       // error box with a single OK button
    Information, // information box with OK
    Warning,     // warning box with OK: done, but not as asked
    Plain,       // plain box, used for caught exception messages
    Question,    // information box with Yes and No
    // A question whose safe answer is No: No is the default button, and closing the box answers
    // No. Text after the first blank line is the box's details.
    CautiousQuestion,
    // A question with Yes, No and Cancel; Escape and closing the box answer Cancel.
    QuestionWithCancel
};

// How a box was left: OK counts as Yes. A question can also be closed without an answer (the
// window's close button), which each caller reads as its question requires.
enum class TAnswer { Yes, No, Closed, Cancel };

using TMessageHandler = std::function<TAnswer(TMessageKind kind, const std::string& text)>;

// Replaces the handler; returns the previous one. An empty handler restores the default, which
// prints to standard error and answers as the safe choice. The window program's application
// object installs its boxes here (app/Application.h), as the core knows no widgets.
TMessageHandler SetMessageHandler(TMessageHandler handler);

void ShowError(const std::string& text);
void ShowInformation(const std::string& text);
void ShowWarning(const std::string& text);
void ShowPlain(const std::string& text);
TAnswer AskYesNo(const std::string& text);
// Yes, No or Cancel (also when the box is closed).
TAnswer AskYesNoCancel(const std::string& text);
// A cautious question with its details, one a line (none: no details).
TAnswer AskYesNoDefaultNo(const std::string& question, const std::vector<std::string>& details = {});
