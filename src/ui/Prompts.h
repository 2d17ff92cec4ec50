#pragma once

#include <QString>
#include <QStringList>

// Every message box, question and file chooser of the program goes through IPrompts, so that logic never opens a
// modal box itself and tests can answer from a script.
//
// The running program installs CQtPrompts at start (apps/nemola-m); tests install CScriptedPrompts
// (tests/support). SetPrompts() is meant for those two places only: install before the first prompt, restore the
// previous one when the installer goes away. Prompts are shown from the GUI thread only.

// The buttons a message box offers.
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, ApplyDiscardCancel };

// The button that closed a message box. A box closed without a button (Escape, window close) answers with its
// cancelling button: Cancel when offered, else No, else Ok.
enum class PromptButton { Ok, Cancel, Yes, No, Retry, Apply, Discard };

enum class PromptIcon { None, Information, Question, Warning, Error };

// Open and save choosers.
struct FileChooserOptions
{
    QString title;
    QString folder;    // start folder
    QString fileName;  // preset file name (save choosers)
    // Filters in Qt form, e.g. "Script files (*.kvc)"; `selectedFilter` indexes them (-1: the first).
    QStringList filters;
    int selectedFilter = -1;
    QString defaultSuffix;         // without the dot; appended when the user typed a name without one
    bool confirmOverwrite = true;  // save choosers: ask before replacing a file
    bool executablesOnly = false;  // open choosers: list only the files the user may run (and the folders)
};

struct FileChoice
{
    QString path;     // empty when the user cancelled
    int filter = -1;  // index of the filter in use when the choice was made
    bool Accepted() const { return !path.isEmpty(); }
};

class IPrompts
{
public:
    virtual ~IPrompts() = default;

    // `defaultButton` is the one Enter presses; it must be among `buttons`.
    virtual PromptButton Message(const QString& text, const QString& caption, PromptButtons buttons, PromptIcon icon,
                                 PromptButton defaultButton) = 0;
    // A box whose default is its accepting button (OK, Yes, Retry, Apply).
    PromptButton Message(const QString& text, const QString& caption, PromptButtons buttons, PromptIcon icon);
    virtual FileChoice OpenFile(const FileChooserOptions& options) = 0;
    virtual FileChoice SaveFile(const FileChooserOptions& options) = 0;
    // Returns the chosen folder, or an empty text when cancelled.
    virtual QString ChooseFolder(const QString& title, const QString& startFolder) = 0;
};

// The prompts in use. Before anything is installed this is a stand-in that logs each prompt and answers it with
// the cancelling button (or nothing chosen), so that a forgotten install never leaves a modal box waiting.
IPrompts& Prompts();

// Installs `prompts` (null restores the stand-in) and returns what was installed before (null for the stand-in).
// The caller keeps ownership.
IPrompts* SetPrompts(IPrompts* prompts);

// Helpers for the common forms.
PromptButton ShowMessage(const QString& text, const QString& caption, PromptIcon icon = PromptIcon::None);
// Enter answers with the first button (OK, Yes, Retry, Apply).
PromptButton AskQuestion(const QString& text, const QString& caption, PromptButtons buttons = PromptButtons::YesNo);
// For a question whose "yes" destroys or replaces something: Enter answers with the cancelling button, so that a
// reflexive key press keeps the user's data.
PromptButton AskDestructive(const QString& text, const QString& caption, PromptButtons buttons = PromptButtons::YesNo);

// The button a box offering `buttons` answers with when it is closed without a choice.
PromptButton CancellingButton(PromptButtons buttons);
// The first, accepting button of a box (OK, Yes, Retry, Apply): a box's default unless the caller chose another.
PromptButton AcceptingButton(PromptButtons buttons);
// Whether `button` is among `buttons`.
bool OffersButton(PromptButtons buttons, PromptButton button);

// Texts for logs and test failure messages ("OK/Cancel", "Yes", ...).
QString ButtonsName(PromptButtons buttons);
QString ButtonName(PromptButton button);
