#include "app/CommandLine.h"
#include "app/MainFrame.h"
#include "app/NemolaApp.h"
#include "ui/QtPrompts.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    // Answered before the application looks for a display: help, the version and a wrong argument need none.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    if (const std::optional<int> code = AnswerCommandLine(ParseCommandLine(arguments))) {
        return *code;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nemola-M"));
    QApplication::setApplicationVersion(QStringLiteral(NEMOLA_VERSION));
    // The desktop entry and icon that "cmake --install" puts in place.
    QGuiApplication::setDesktopFileName(QStringLiteral("nemola-m"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("nemola-m")));

    CQtPrompts prompts;
    SetPrompts(&prompts);

    int code = 0;
    {
        CNemolaApp app;
        const bool started = app.Start(QApplication::arguments());
        prompts.SetParent(app.MainFrame());
        code = started ? QApplication::exec() : app.ExitCode();
        prompts.SetParent(nullptr);
    }
    SetPrompts(nullptr);
    return code;
}
