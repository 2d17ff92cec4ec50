#include "ui/QtPrompts.h"

#include "ui/WindowFit.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QMessageBox::StandardButtons ToQt(PromptButtons buttons)
{
    switch (buttons) {
        case PromptButtons::Ok:
            return QMessageBox::Ok;
        case PromptButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case PromptButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case PromptButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case PromptButtons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
        case PromptButtons::ApplyDiscardCancel:
            return QMessageBox::Apply | QMessageBox::Discard | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon ToQt(PromptIcon icon)
{
    switch (icon) {
        case PromptIcon::None:
            return QMessageBox::NoIcon;
        case PromptIcon::Information:
            return QMessageBox::Information;
        case PromptIcon::Question:
            return QMessageBox::Question;
        case PromptIcon::Warning:
            return QMessageBox::Warning;
        case PromptIcon::Error:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton ToQtButton(PromptButton button)
{
    switch (button) {
        case PromptButton::Ok:
            return QMessageBox::Ok;
        case PromptButton::Cancel:
            return QMessageBox::Cancel;
        case PromptButton::Yes:
            return QMessageBox::Yes;
        case PromptButton::No:
            return QMessageBox::No;
        case PromptButton::Retry:
            return QMessageBox::Retry;
        case PromptButton::Apply:
            return QMessageBox::Apply;
        case PromptButton::Discard:
            return QMessageBox::Discard;
    }
    return QMessageBox::Cancel;
}

PromptButton FromQt(int button, PromptButtons offered)
{
    switch (button) {
        case QMessageBox::Ok:
            return PromptButton::Ok;
        case QMessageBox::Cancel:
            return PromptButton::Cancel;
        case QMessageBox::Yes:
            return PromptButton::Yes;
        case QMessageBox::No:
            return PromptButton::No;
        case QMessageBox::Retry:
            return PromptButton::Retry;
        case QMessageBox::Apply:
            return PromptButton::Apply;
        case QMessageBox::Discard:
            return PromptButton::Discard;
        default:
            return CancellingButton(offered);
    }
}

void Prepare(QFileDialog& dialog, const FileChooserOptions& options)
{
    dialog.setWindowTitle(options.title);
    if (!options.folder.isEmpty()) {
        dialog.setDirectory(options.folder);
    }
    if (!options.filters.isEmpty()) {
        dialog.setNameFilters(options.filters);
        const int index =
            options.selectedFilter >= 0 && options.selectedFilter < options.filters.size() ? options.selectedFilter : 0;
        dialog.selectNameFilter(options.filters.at(index));
    }
    if (!options.defaultSuffix.isEmpty()) {
        dialog.setDefaultSuffix(options.defaultSuffix);
    }
    if (!options.fileName.isEmpty()) {
        dialog.selectFile(options.fileName);
    }
    if (options.executablesOnly) {
        dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDot);
    }
    // The platform's own dialogs cannot be sized for the handheld screen.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // Full screen on the handheld, a comfortable size on a desktop.
    FitToScreen(&dialog, QSize(720, 560));
}

FileChoice Run(QFileDialog& dialog)
{
    FileChoice choice;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return choice;
    }
    choice.path = dialog.selectedFiles().constFirst();
    choice.filter = int(dialog.nameFilters().indexOf(dialog.selectedNameFilter()));
    return choice;
}

}  // namespace

CQtPrompts::CQtPrompts(QWidget* parent) : m_parent(parent) {}

QWidget* CQtPrompts::Parent() const
{
    // A tool's modal window is the owner even while another application has the focus.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    if (QWidget* active = QApplication::activeWindow()) {
        return active;
    }
    // Without an active window (another program has the focus, or the frame is hidden while a tool works) a box
    // still belongs over the program's window rather than in the middle of the screen.
    if (m_parent) {
        return m_parent;
    }
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && !top->isMinimized() && top->windowType() != Qt::ToolTip &&
            top->windowType() != Qt::Popup) {
            return top;
        }
    }
    return nullptr;
}

PromptButton CQtPrompts::Message(const QString& text, const QString& caption, PromptButtons buttons, PromptIcon icon,
                                 PromptButton defaultButton)
{
    QMessageBox box(ToQt(icon), caption, text, ToQt(buttons), Parent());
    box.setMaximumWidth(RoomFor(&box).width());
    FitToScreen(&box);
    // Escape answers with the cancelling button, as a closed box does.
    box.setEscapeButton(box.button(ToQtButton(CancellingButton(buttons))));
    box.setDefaultButton(ToQtButton(defaultButton));
    return FromQt(box.exec(), buttons);
}

FileChoice CQtPrompts::OpenFile(const FileChooserOptions& options)
{
    QFileDialog dialog(Parent());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    Prepare(dialog, options);
    return Run(dialog);
}

FileChoice CQtPrompts::SaveFile(const FileChooserOptions& options)
{
    QFileDialog dialog(Parent());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !options.confirmOverwrite);
    Prepare(dialog, options);
    return Run(dialog);
}

QString CQtPrompts::ChooseFolder(const QString& title, const QString& startFolder)
{
    QFileDialog dialog(Parent());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    FileChooserOptions options;
    options.title = title;
    options.folder = startFolder;
    Prepare(dialog, options);
    return Run(dialog).path;
}
