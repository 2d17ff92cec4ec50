#pragma once

#include "ui/Prompts.h"

#include <QString>

#include <deque>
#include <optional>
#include <vector>

// Prompts for tests: the test queues the prompts it expects, each with the answer to give, and the code under test
// gets those answers in order. Fails the running test (non-fatally) on
//   - a prompt when none is expected, or of another kind;
//   - a message box whose caption, text or offered buttons differ from the expected ones;
//   - an answer that the box does not offer;
//   - an expected prompt that never came (Verify(), called by the destructor).
// On a failure the prompt is answered as if cancelled. Every prompt is recorded for inspection.
// Installs itself on construction and puts back the previous prompts on destruction.
class CScriptedPrompts : public IPrompts
{
public:
    enum class Kind { Message, OpenFile, SaveFile, Folder };

    struct Record
    {
        Kind kind = Kind::Message;
        QString caption;  // the box's caption or the chooser's title
        QString text;     // message text; start folder of the folder chooser
        PromptButtons buttons = PromptButtons::Ok;
        PromptIcon icon = PromptIcon::None;
        PromptButton defaultButton = PromptButton::Ok;
        FileChooserOptions file;  // open and save choosers
    };

    CScriptedPrompts();
    ~CScriptedPrompts() override;
    CScriptedPrompts(const CScriptedPrompts&) = delete;
    CScriptedPrompts& operator=(const CScriptedPrompts&) = delete;

    CScriptedPrompts& ExpectMessage(const QString& caption, const QString& text, PromptButtons buttons,
                                    PromptButton answer);
    // The last expected message box must also have `button` as its default (the one Enter presses).
    CScriptedPrompts& WithDefault(PromptButton button);
    // `path` empty answers as a cancelled chooser.
    CScriptedPrompts& ExpectOpenFile(const QString& title, const QString& path, int filter = -1);
    CScriptedPrompts& ExpectSaveFile(const QString& title, const QString& path, int filter = -1);
    CScriptedPrompts& ExpectFolder(const QString& title, const QString& folder);

    // Fails the test for each expected prompt that has not come, then forgets them.
    void Verify();

    const std::vector<Record>& Records() const { return m_records; }
    int PendingCount() const { return int(m_expected.size()); }

    using IPrompts::Message;
    PromptButton Message(const QString& text, const QString& caption, PromptButtons buttons, PromptIcon icon,
                         PromptButton defaultButton) override;
    FileChoice OpenFile(const FileChooserOptions& options) override;
    FileChoice SaveFile(const FileChooserOptions& options) override;
    QString ChooseFolder(const QString& title, const QString& startFolder) override;

    static QString KindName(Kind kind);

private:
    struct Expected
    {
        Kind kind = Kind::Message;
        QString caption;
        QString text;
        PromptButtons buttons = PromptButtons::Ok;
        PromptButton answer = PromptButton::Ok;
        std::optional<PromptButton> defaultButton;  // unchecked when not set
        QString path;
        int filter = -1;
    };

    // Takes the next expectation if it is of `kind` with the given caption; reports a failure and returns false
    // otherwise.
    bool Take(Kind kind, const Record& record, Expected* out);
    FileChoice Chooser(Kind kind, const FileChooserOptions& options);

    std::deque<Expected> m_expected;
    std::vector<Record> m_records;
    IPrompts* m_previous = nullptr;
};
