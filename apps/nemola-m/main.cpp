#include "app/NemolaApp.h"
#include "ui/QtPrompts.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nemola-M"));
    QApplication::setApplicationVersion(QStringLiteral(NEMOLA_VERSION));

    CQtPrompts prompts;
    SetPrompts(&prompts);

    int code = 0;
    {
        CNemolaApp app;
        code = app.Start(QApplication::arguments()) ? QApplication::exec() : app.ExitCode();
    }
    SetPrompts(nullptr);
    return code;
}
