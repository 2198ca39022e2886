// The file-open dialog of File > Open. It remembers the chosen file name from
// one opening to the next.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

class TOpenDialog : public QObject {
    Q_OBJECT

public:
    explicit TOpenDialog(QWidget* owner);

    QString InitialDir;
    QString Filter;
    QString FileName;

    // Runs the dialog modally; true when the user chose a file.
    bool Execute();

    // Tests answer the dialog instead of a person: the function gets the
    // dialog and returns true (a file chosen, FileName set) or false (Cancel).
    using Answer = std::function<bool(TOpenDialog&)>;
    static void SetAnswerForTesting(Answer answer);

private:
    QWidget* owner_;
};
