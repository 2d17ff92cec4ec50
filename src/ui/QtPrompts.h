#pragma once

#include "ui/Prompts.h"

class QWidget;

// The prompts of the running program: QMessageBox and QFileDialog instances run modally, kept within the screen
// so that they fit the 480x640 handheld as well as a desktop.
class CQtPrompts : public IPrompts
{
public:
    // A box's parent is the active modal window, else the active window, else `parent` (the program's main
    // window; may be null), else a visible top-level window.
    explicit CQtPrompts(QWidget* parent = nullptr);

    void SetParent(QWidget* parent) { m_parent = parent; }

    using IPrompts::Message;
    PromptButton Message(const QString& text, const QString& caption, PromptButtons buttons, PromptIcon icon,
                         PromptButton defaultButton) override;
    FileChoice OpenFile(const FileChooserOptions& options) override;
    FileChoice SaveFile(const FileChooserOptions& options) override;
    QString ChooseFolder(const QString& title, const QString& startFolder) override;

    QWidget* Parent() const;

private:
    QWidget* m_parent = nullptr;
};
