#include "ui/Application.h"

#include <QFont>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "midi/Backends.h"
#include "ui/AutoUnit3.h"
#include "ui/MicUnit4.h"
#include "ui/MidiUnit2.h"
#include "ui/TonicUnit3.h"
#include "ui/VocarineUnit1.h"

namespace {

std::function<void(const QString&)>& ErrorBoxHook()
{
    static std::function<void(const QString&)> hook;
    return hook;
}

std::function<void(const QString&)>& WarningBoxHook()
{
    static std::function<void(const QString&)> hook;
    return hook;
}

// Qt's messages while the application object is made, kept in case it fails.
std::vector<QString>& StartupMessages()
{
    static std::vector<QString> messages;
    return messages;
}

bool& StartingUp()
{
    static bool starting = true;
    return starting;
}

}  // namespace

void InstallQuietMessages()
{
    // The terminal stays quiet for Qt's chatter, but when Qt gives up the user
    // reads why: a fatal or critical message goes to standard error, after
    // what Qt said while it was starting (the display it could not open).
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtCriticalMsg && type != QtFatalMsg) {
            if (StartingUp() && StartupMessages().size() < 20)
                StartupMessages().push_back(message);
            return;
        }
        const std::string program = QCoreApplication::applicationName().isEmpty()
            ? std::string("vocarine")
            : QCoreApplication::applicationName().toStdString();
        for (const QString& said : StartupMessages())
            std::fprintf(stderr, "%s: %s\n", program.c_str(), said.toLocal8Bit().constData());
        StartupMessages().clear();
        std::fprintf(stderr, "%s: %s\n", program.c_str(), message.toLocal8Bit().constData());
        std::fflush(stderr);
        if (type == QtFatalMsg)
            std::_Exit(EXIT_FAILURE);  // instead of an abort with no word
    });
}

void StartupMessagesDone()
{
    StartingUp() = false;
    StartupMessages().clear();
}

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    InstallFontSubstitutes();
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // The rest of the failed handler is skipped; what it changed stays changed.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowErrorBox(QString());
    }
    return false;
}

QString ErrorBoxText(const QString& message)
{
    if (message.isEmpty() || message.endsWith(QLatin1Char('.')))
        return message;
    return message + QLatin1Char('.');
}

void ShowErrorBox(const QString& message)
{
    const QString text = ErrorBoxText(message);
    if (ErrorBoxHook()) {
        ErrorBoxHook()(text);
        return;
    }
    // The caption is the application's name, which Qt takes from the executable.
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);  // messages may quote files and other programs
    box.exec();
}

void SetErrorBoxForTesting(std::function<void(const QString&)> show)
{
    ErrorBoxHook() = std::move(show);
}

void ShowWarningBox(QWidget* parent, const QString& title, const QString& text)
{
    if (WarningBoxHook()) {
        WarningBoxHook()(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);  // the refusal quotes the cell file's own words
    box.exec();
}

void SetWarningBoxForTesting(std::function<void(const QString&)> show)
{
    WarningBoxHook() = std::move(show);
}

void InstallFontSubstitutes()
{
    static const QStringList sans{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};
    if (QFont::substitutes(QStringLiteral("MS Sans Serif")).isEmpty())
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), sans);
    if (QFont::substitutes(QStringLiteral("Arial")).isEmpty())
        QFont::insertSubstitutions(QStringLiteral("Arial"), sans);
}

void CreateWindows()
{
    CreateMainWindow();
    CreateSideWindows();
}

void CreateMainWindow()
{
    Form1 = new TForm1();
}

void CreateSideWindows()
{
    if (Form2 != nullptr)
        return;
    // Form2 lists the output devices through Form1's MIDI components while
    // it is built, so the order matters.
    Form2 = new TForm2();
    AutoForm = new TAutoForm();
    TonicForm = new TTonicForm();
    MicForm = new TMicForm();
    // Closing the main window ends the program even while a side window is open.
    Form2->setAttribute(Qt::WA_QuitOnClose, false);
    AutoForm->setAttribute(Qt::WA_QuitOnClose, false);
    TonicForm->setAttribute(Qt::WA_QuitOnClose, false);
    MicForm->setAttribute(Qt::WA_QuitOnClose, false);
}

void DestroyWindows()
{
    delete MicForm;
    MicForm = nullptr;
    delete TonicForm;
    TonicForm = nullptr;
    delete AutoForm;
    AutoForm = nullptr;
    delete Form2;
    Form2 = nullptr;
    // The main window closes the output port before it lets go of the MIDI layer.
    delete Form1;
    Form1 = nullptr;
}

bool StartVocarine()
{
    // The synthesizer and the port list are made ready on workers once the
    // main window is first painted (TForm1 lets them go on).
    vocarine::HoldStartupWork();
    try {
        CreateMainWindow();
    } catch (const std::exception& error) {
        vocarine::ReleaseStartupWork();
        ShowErrorBox(QString::fromUtf8(error.what()));
        DestroyWindows();
        return false;
    } catch (...) {
        vocarine::ReleaseStartupWork();
        ShowErrorBox(QString());
        DestroyWindows();
        return false;
    }
    // The hidden windows are made once the main window is on the screen: it
    // appears that much sooner.
    QObject::connect(Form1, &TForm1::OnScreen, Form1, [] {
        try {
            CreateSideWindows();
            return;
        } catch (const std::exception& error) {
            ShowErrorBox(QString::fromUtf8(error.what()));
        } catch (...) {
            ShowErrorBox(QString());
        }
        QCoreApplication::exit(0);
    });
    Form1->show();
    return true;
}

int RunVocarine(int argc, char** argv)
{
    InstallQuietMessages();
    TApplication app(argc, argv);
    StartupMessagesDone();
    if (!StartVocarine())
        return 0;
    app.exec();
    DestroyWindows();
    return 0;
}
