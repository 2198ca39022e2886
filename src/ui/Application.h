// The application object: creates the windows in order, runs the event
// loop, and shows any exception in the error box.
#pragma once

#include <QApplication>
#include <QString>
#include <functional>

class QWidget;

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    // An exception from a handler is shown in the error box; the program goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The error box text: the message with a full stop appended unless it ends in one.
QString ErrorBoxText(const QString& message);

// Shows the error box (error icon, the application's name as caption).
void ShowErrorBox(const QString& message);

// Tests see the error box's text instead of a modal box.
void SetErrorBoxForTesting(std::function<void(const QString&)> show);

// A warning about something the user asked for (a cell file that was refused).
void ShowWarningBox(QWidget* parent, const QString& title, const QString& text);

// Tests see the warning's text instead of a modal box.
void SetWarningBoxForTesting(std::function<void(const QString&)> show);

// The window fonts of the design ("MS Sans Serif", "Arial") map to the
// metric-compatible fonts of this system. Done once by TApplication.
void InstallFontSubstitutes();

// Creates Form1, Form2, AutoForm, TonicForm and MicForm in that order.
// Throws what their construction throws.
void CreateWindows();

// The two halves of CreateWindows: Form1, then the windows that stay hidden
// until asked for (made once only).
void CreateMainWindow();
void CreateSideWindows();

// Deletes the windows in reverse order and clears the globals.
void DestroyWindows();

// Creates the main window and shows it; the other windows are made once it
// is on the screen. An exception on the way is shown in the error box; the
// windows made so far are deleted and the answer is false (the event loop
// must not run then). Should making the other windows fail later, the error
// box is shown and the program ends.
bool StartVocarine();

// Keeps Qt's chatter off the terminal; fatal and critical messages reach
// standard error, and a fatal one ends the program with a failure status.
void InstallQuietMessages();
// Start-up is over: what Qt said while starting need not be told any more.
void StartupMessagesDone();

// The program entry: returns 0, also after a failed start-up.
int RunVocarine(int argc, char** argv);
