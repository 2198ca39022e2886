// The application object: creates the four windows in order, runs the event
// loop, and shows any exception in the error box.
#pragma once

#include <QApplication>
#include <QString>
#include <functional>

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

// Creates Form1, Form2, AutoForm and TonicForm in that order. Throws what
// their construction throws.
void CreateWindows();

// Deletes the four windows in reverse order and clears the globals.
void DestroyWindows();

// The program entry: returns 0, also after a failed start-up.
int RunVocarine(int argc, char** argv);
