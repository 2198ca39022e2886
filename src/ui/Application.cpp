#include "ui/Application.h"

#include <QFont>
#include <QMessageBox>
#include <exception>
#include <utility>

#include "ui/AutoUnit3.h"
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

}  // namespace

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
    QMessageBox::warning(parent, title, text);
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
    // Form2 lists the output devices through Form1's MIDI components while
    // it is built, so the order matters.
    Form1 = new TForm1();
    Form2 = new TForm2();
    AutoForm = new TAutoForm();
    TonicForm = new TTonicForm();
    // Closing the main window ends the program even while a side window is open.
    Form2->setAttribute(Qt::WA_QuitOnClose, false);
    AutoForm->setAttribute(Qt::WA_QuitOnClose, false);
    TonicForm->setAttribute(Qt::WA_QuitOnClose, false);
}

void DestroyWindows()
{
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
    try {
        CreateWindows();
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromUtf8(error.what()));
        DestroyWindows();
        return false;
    } catch (...) {
        ShowErrorBox(QString());
        DestroyWindows();
        return false;
    }
    Form1->show();
    return true;
}

int RunVocarine(int argc, char** argv)
{
    // The program writes nothing on the terminal, and neither does Qt for it.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    TApplication app(argc, argv);
    if (!StartVocarine())
        return 0;
    app.exec();
    DestroyWindows();
    return 0;
}
