#include "ui/Prompts.h"

#include <QLoggingCategory>

#include <atomic>

Q_LOGGING_CATEGORY(lcUi, "nemola.ui")

namespace {

// Answers everything as if the user had cancelled; keeps headless runs from ever waiting on a box.
class CNullPrompts : public IPrompts
{
public:
    using IPrompts::Message;
    PromptButton Message(const QString& text, const QString& caption, PromptButtons buttons, PromptIcon,
                         PromptButton) override
    {
        qCWarning(lcUi) << "No prompts installed; answering" << ButtonName(CancellingButton(buttons)) << "to" << caption
                        << text;
        return CancellingButton(buttons);
    }
    FileChoice OpenFile(const FileChooserOptions& options) override
    {
        qCWarning(lcUi) << "No prompts installed; cancelling open chooser" << options.title;
        return {};
    }
    FileChoice SaveFile(const FileChooserOptions& options) override
    {
        qCWarning(lcUi) << "No prompts installed; cancelling save chooser" << options.title;
        return {};
    }
    QString ChooseFolder(const QString& title, const QString&) override
    {
        qCWarning(lcUi) << "No prompts installed; cancelling folder chooser" << title;
        return {};
    }
};

CNullPrompts g_nullPrompts;
std::atomic<IPrompts*> g_prompts{nullptr};

}  // namespace

IPrompts& Prompts()
{
    IPrompts* prompts = g_prompts.load();
    return prompts ? *prompts : g_nullPrompts;
}

IPrompts* SetPrompts(IPrompts* prompts)
{
    return g_prompts.exchange(prompts);
}

PromptButton IPrompts::Message(const QString& text, const QString& caption, PromptButtons buttons, PromptIcon icon)
{
    return Message(text, caption, buttons, icon, AcceptingButton(buttons));
}

PromptButton ShowMessage(const QString& text, const QString& caption, PromptIcon icon)
{
    return Prompts().Message(text, caption, PromptButtons::Ok, icon, PromptButton::Ok);
}

PromptButton AskQuestion(const QString& text, const QString& caption, PromptButtons buttons)
{
    return Prompts().Message(text, caption, buttons, PromptIcon::Question, AcceptingButton(buttons));
}

PromptButton AskDestructive(const QString& text, const QString& caption, PromptButtons buttons)
{
    return Prompts().Message(text, caption, buttons, PromptIcon::Question, CancellingButton(buttons));
}

PromptButton CancellingButton(PromptButtons buttons)
{
    switch (buttons) {
        case PromptButtons::Ok:
            return PromptButton::Ok;
        case PromptButtons::YesNo:
            return PromptButton::No;
        case PromptButtons::OkCancel:
        case PromptButtons::YesNoCancel:
        case PromptButtons::RetryCancel:
        case PromptButtons::ApplyDiscardCancel:
            return PromptButton::Cancel;
    }
    return PromptButton::Cancel;
}

PromptButton AcceptingButton(PromptButtons buttons)
{
    switch (buttons) {
        case PromptButtons::Ok:
        case PromptButtons::OkCancel:
            return PromptButton::Ok;
        case PromptButtons::YesNo:
        case PromptButtons::YesNoCancel:
            return PromptButton::Yes;
        case PromptButtons::RetryCancel:
            return PromptButton::Retry;
        case PromptButtons::ApplyDiscardCancel:
            return PromptButton::Apply;
    }
    return PromptButton::Ok;
}

bool OffersButton(PromptButtons buttons, PromptButton button)
{
    switch (buttons) {
        case PromptButtons::Ok:
            return button == PromptButton::Ok;
        case PromptButtons::OkCancel:
            return button == PromptButton::Ok || button == PromptButton::Cancel;
        case PromptButtons::YesNo:
            return button == PromptButton::Yes || button == PromptButton::No;
        case PromptButtons::YesNoCancel:
            return button == PromptButton::Yes || button == PromptButton::No || button == PromptButton::Cancel;
        case PromptButtons::RetryCancel:
            return button == PromptButton::Retry || button == PromptButton::Cancel;
        case PromptButtons::ApplyDiscardCancel:
            return button == PromptButton::Apply || button == PromptButton::Discard || button == PromptButton::Cancel;
    }
    return false;
}

QString ButtonsName(PromptButtons buttons)
{
    switch (buttons) {
        case PromptButtons::Ok:
            return QStringLiteral("OK");
        case PromptButtons::OkCancel:
            return QStringLiteral("OK/Cancel");
        case PromptButtons::YesNo:
            return QStringLiteral("Yes/No");
        case PromptButtons::YesNoCancel:
            return QStringLiteral("Yes/No/Cancel");
        case PromptButtons::RetryCancel:
            return QStringLiteral("Retry/Cancel");
        case PromptButtons::ApplyDiscardCancel:
            return QStringLiteral("Apply/Discard/Cancel");
    }
    return QStringLiteral("?");
}

QString ButtonName(PromptButton button)
{
    switch (button) {
        case PromptButton::Ok:
            return QStringLiteral("OK");
        case PromptButton::Cancel:
            return QStringLiteral("Cancel");
        case PromptButton::Yes:
            return QStringLiteral("Yes");
        case PromptButton::No:
            return QStringLiteral("No");
        case PromptButton::Retry:
            return QStringLiteral("Retry");
        case PromptButton::Apply:
            return QStringLiteral("Apply");
        case PromptButton::Discard:
            return QStringLiteral("Discard");
    }
    return QStringLiteral("?");
}
