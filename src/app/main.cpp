#include <QGuiApplication>

#include "ui/Application.h"

int main(int argc, char** argv)
{
    // Desktops match the windows to the installed desktop entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(VOCARINE_APP_ID));
    return RunVocarine(argc, argv);
}
