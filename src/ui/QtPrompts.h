#pragma once

#include "ui/Prompts.h"

class QWidget;

// The prompts of the running program: QMessageBox and QFileDialog instances run modally, kept within the screen
// so that they fit the 480x640 handheld as well as a desktop.
class CQtPrompts : public IPrompts
{
public:
    // `parent` (may be null) becomes the parent of every box; the active window is used when it is null.
    explicit CQtPrompts(QWidget* parent = nullptr);

    void SetParent(QWidget* parent) { m_parent = parent; }

    PromptButton Message(const QString& text, const QString& caption, PromptButtons buttons, PromptIcon icon) override;
    FileChoice OpenFile(const FileChooserOptions& options) override;
    FileChoice SaveFile(const FileChooserOptions& options) override;
    QString ChooseFolder(const QString& title, const QString& startFolder) override;

private:
    QWidget* Parent() const;

    QWidget* m_parent = nullptr;
};
