// The New Tonic dialog: moves the trainer to a random new key each time it is
// shown, lets the user pick another, and sounds the new tonic.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

class TTonicForm : public QDialog {
    Q_OBJECT

public:
    explicit TTonicForm(QWidget* owner = nullptr);

    QLabel* StaticText1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    void FormShow(QObject* Sender);
    void ComboBox1Select(QObject* Sender);
    void Button1Click(QObject* Sender);
    void Button2Click(QObject* Sender);

protected:
    void showEvent(QShowEvent* event) override;
};

extern TTonicForm* TonicForm;
