#include "support/ScriptedPrompts.h"
#include "ui/Prompts.h"
#include "ui/QtPrompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

const QString kCaption = QStringLiteral("Clear NVRAM");
const QString kText = QStringLiteral("Push OK to proceed,\nCancel to abort.");

TEST(ScriptedPrompts, AnswersExpectedPromptsInOrderAndRecordsThem)
{
    CScriptedPrompts prompts;
    prompts.ExpectMessage(kCaption, kText, PromptButtons::OkCancel, PromptButton::Ok)
        .ExpectMessage(QStringLiteral("Q"), QStringLiteral("Sure?"), PromptButtons::YesNo, PromptButton::No);

    EXPECT_EQ(Prompts().Message(kText, kCaption, PromptButtons::OkCancel, PromptIcon::Question), PromptButton::Ok);
    EXPECT_EQ(AskQuestion(QStringLiteral("Sure?"), QStringLiteral("Q")), PromptButton::No);

    ASSERT_EQ(prompts.Records().size(), 2u);
    EXPECT_EQ(prompts.Records()[0].icon, PromptIcon::Question);
    EXPECT_EQ(prompts.Records()[1].caption, QStringLiteral("Q"));
    EXPECT_EQ(prompts.PendingCount(), 0);
}

// Each case: whether OK/Cancel with answer `scripted` is expected, the box actually shown, the failure said and
// the answer the code under test gets.
TEST(ScriptedPrompts, MismatchedMessageBoxesFailAndGetACancellingAnswer)
{
    const struct
    {
        bool expected;
        PromptButton scripted;
        QString text, caption;
        PromptButtons buttons;
        const char* failure;
        PromptButton answer;
    } cases[] = {
        {false, PromptButton::Ok, kText, kCaption, PromptButtons::OkCancel, "Unexpected message box \"Clear NVRAM\"",
         PromptButton::Cancel},
        {true, PromptButton::Ok, kText + QLatin1Char('!'), kCaption, PromptButtons::OkCancel,
         "expected text \"Push OK to proceed,\\nCancel to abort.\"", PromptButton::Cancel},
        {true, PromptButton::Ok, kText, QStringLiteral("Reset Receiver"), PromptButtons::OkCancel,
         "expected caption \"Clear NVRAM\"", PromptButton::Cancel},
        {true, PromptButton::Ok, kText, kCaption, PromptButtons::YesNo, "expected buttons OK/Cancel, got Yes/No",
         PromptButton::No},
        {true, PromptButton::Yes, kText, kCaption, PromptButtons::OkCancel,
         "the scripted answer Yes is not among its buttons OK/Cancel", PromptButton::Cancel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        CScriptedPrompts prompts;
        if (c.expected) {
            prompts.ExpectMessage(kCaption, kText, PromptButtons::OkCancel, c.scripted);
        }
        PromptButton answer = PromptButton::Ok;
        EXPECT_NONFATAL_FAILURE(answer = Prompts().Message(c.text, c.caption, c.buttons, PromptIcon::None), c.failure);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(prompts.Records().size(), 1u);
    }
}

// A destructive question must not be answered "yes" by a reflexive Enter; tests pin each box's default.
TEST(ScriptedPrompts, DefaultButtonsAreRecordedAndChecked)
{
    CScriptedPrompts prompts;
    prompts.ExpectMessage(kCaption, kText, PromptButtons::YesNo, PromptButton::Yes)
        .WithDefault(PromptButton::No)
        .ExpectMessage(kCaption, kText, PromptButtons::ApplyDiscardCancel, PromptButton::Discard)
        .WithDefault(PromptButton::Apply)
        .ExpectMessage(kCaption, kText, PromptButtons::OkCancel, PromptButton::Ok)
        .WithDefault(PromptButton::Cancel);
    EXPECT_EQ(AskDestructive(kText, kCaption), PromptButton::Yes);
    EXPECT_EQ(AskQuestion(kText, kCaption, PromptButtons::ApplyDiscardCancel), PromptButton::Discard);
    PromptButton answer = PromptButton::Ok;
    EXPECT_NONFATAL_FAILURE(answer = AskQuestion(kText, kCaption, PromptButtons::OkCancel),
                            "expected default button Cancel, got OK");
    EXPECT_EQ(answer, PromptButton::Cancel);
    EXPECT_EQ(prompts.Records()[0].defaultButton, PromptButton::No);
}

TEST(ScriptedPrompts, MissingPromptOrAnotherKindFails)
{
    {
        CScriptedPrompts prompts;
        prompts.ExpectMessage(kCaption, kText, PromptButtons::Ok, PromptButton::Ok);
        EXPECT_NONFATAL_FAILURE(prompts.Verify(), "Expected message box \"Clear NVRAM\"");
        EXPECT_EQ(prompts.PendingCount(), 0);
    }
    EXPECT_NONFATAL_FAILURE(
        {
            CScriptedPrompts prompts;
            prompts.ExpectSaveFile(QStringLiteral("Save script"), QStringLiteral("/tmp/a.kvc"));
        },
        "Expected save-file chooser \"Save script\" never came");

    // Another kind of prompt than the one expected.
    CScriptedPrompts prompts;
    prompts.ExpectOpenFile(QStringLiteral("Open"), QStringLiteral("/tmp/x"));
    FileChooserOptions options;
    options.title = QStringLiteral("Open");
    FileChoice choice;
    EXPECT_NONFATAL_FAILURE(choice = Prompts().SaveFile(options),
                            "Expected open-file chooser \"Open\", got save-file chooser");
    EXPECT_FALSE(choice.Accepted());
}

TEST(ScriptedPrompts, ChoosersReturnScriptedPathsAndFilters)
{
    CScriptedPrompts prompts;
    prompts.ExpectOpenFile(QStringLiteral("Open script"), QStringLiteral("/data/a.kvc"))
        .ExpectSaveFile(QStringLiteral("Save log"), QStringLiteral("/data/b.log"), 1)
        .ExpectSaveFile(QStringLiteral("Save log"), QString())
        .ExpectFolder(QStringLiteral("Output folder"), QStringLiteral("/data/out"));

    FileChooserOptions open;
    open.title = QStringLiteral("Open script");
    open.filters = QStringList{QStringLiteral("Scripts (*.kvc)"), QStringLiteral("All (*)")};
    const FileChoice a = Prompts().OpenFile(open);
    EXPECT_EQ(a.path, QStringLiteral("/data/a.kvc"));
    EXPECT_EQ(a.filter, 0);

    FileChooserOptions save;
    save.title = QStringLiteral("Save log");
    save.folder = QStringLiteral("/data");
    const FileChoice b = Prompts().SaveFile(save);
    EXPECT_EQ(b.path, QStringLiteral("/data/b.log"));
    EXPECT_EQ(b.filter, 1);
    EXPECT_FALSE(Prompts().SaveFile(save).Accepted());

    EXPECT_EQ(Prompts().ChooseFolder(QStringLiteral("Output folder"), QStringLiteral("/data")),
              QStringLiteral("/data/out"));
    ASSERT_EQ(prompts.Records().size(), 4u);
    EXPECT_EQ(prompts.Records()[1].file.folder, QStringLiteral("/data"));
    EXPECT_EQ(prompts.Records()[3].text, QStringLiteral("/data"));
}

TEST(ScriptedPrompts, InstallsForItsLifetimeAndRestoresThePrevious)
{
    CScriptedPrompts outer;
    {
        CScriptedPrompts inner;
        EXPECT_EQ(&Prompts(), &inner);
    }
    EXPECT_EQ(&Prompts(), &outer);
}

TEST(Prompts, WithNothingInstalledEveryPromptIsCancelledWithoutWaiting)
{
    IPrompts* previous = SetPrompts(nullptr);
    EXPECT_EQ(AskQuestion(kText, kCaption, PromptButtons::YesNo), PromptButton::No);
    EXPECT_EQ(AskQuestion(kText, kCaption, PromptButtons::YesNoCancel), PromptButton::Cancel);
    EXPECT_EQ(ShowMessage(kText, kCaption), PromptButton::Ok);
    EXPECT_FALSE(Prompts().OpenFile({}).Accepted());
    EXPECT_TRUE(Prompts().ChooseFolder(kCaption, QString()).isEmpty());
    SetPrompts(previous);
}

// Presses a button of the message box that the code under test is about to run modally.
void PressWhenShown(QMessageBox::StandardButton button, QString* seenText)
{
    QTimer::singleShot(0, [button, seenText] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *seenText = box->text();
        if (button == QMessageBox::Escape) {
            box->reject();
        } else {
            box->button(button)->click();
        }
    });
}

TEST(QtPrompts, MessageBoxAnswersWithThePressedButtonOrWhenClosedItsCancellingOne)
{
    CQtPrompts prompts;
    const struct
    {
        QMessageBox::StandardButton press;  // Escape: the box is closed
        PromptButtons buttons;
        PromptButton answer;
    } cases[] = {{QMessageBox::No, PromptButtons::YesNoCancel, PromptButton::No},
                 {QMessageBox::Retry, PromptButtons::RetryCancel, PromptButton::Retry},
                 {QMessageBox::Escape, PromptButtons::OkCancel, PromptButton::Cancel},
                 {QMessageBox::Escape, PromptButtons::YesNo, PromptButton::No}};
    for (const auto& c : cases) {
        QString seen;
        PressWhenShown(c.press, &seen);
        EXPECT_EQ(prompts.Message(kText, kCaption, c.buttons, PromptIcon::Question), c.answer);
        EXPECT_EQ(seen, kText);
    }
}

TEST(QtPrompts, TheChosenDefaultIsTheBoxsDefaultButton)
{
    CQtPrompts prompts;
    for (const PromptButton chosen : {PromptButton::Cancel, PromptButton::Apply}) {
        QString pressed;
        QTimer::singleShot(0, [&pressed] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            pressed = box->defaultButton()->text();
            box->defaultButton()->click();
        });
        EXPECT_EQ(prompts.Message(kText, kCaption, PromptButtons::ApplyDiscardCancel, PromptIcon::Question, chosen),
                  chosen);
        EXPECT_FALSE(pressed.isEmpty());
    }
}

// Boxes once opened in the middle of the screen whenever the program's window was not the active one.
TEST(QtPrompts, BoxesBelongToTheProgramsWindowWithoutAnActiveOne)
{
    QWidget frame;
    frame.setObjectName(QStringLiteral("frame"));
    CQtPrompts prompts(&frame);
    if (QApplication::activeWindow() == nullptr && QApplication::activeModalWidget() == nullptr) {
        EXPECT_EQ(prompts.Parent(), &frame);
    }
    CQtPrompts unowned;
    frame.show();
    QWidget* parent = unowned.Parent();
    EXPECT_NE(parent, nullptr);
    QWidget* seen = nullptr;
    QTimer::singleShot(0, [&seen] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = box->parentWidget();
            box->reject();
        }
    });
    unowned.Message(QStringLiteral("text"), QStringLiteral("caption"), PromptButtons::Ok, PromptIcon::None);
    EXPECT_EQ(seen, parent);
    frame.hide();
}

}  // namespace
