// The AutoDrive panel: mode, waits, repetitions and START/STOP. It keeps no
// setting apart from its controls; the sequencer reads them at every tick.
#pragma once

#include <QWidget>

#include "core/AutoDrive.h"

class QLabel;
class QPushButton;
class TRadioGroup;
class TUpDown;

class TAutoForm : public QWidget, public vocarine::AutoDrivePanel {
    Q_OBJECT

public:
    explicit TAutoForm(QWidget* owner = nullptr);

    TRadioGroup* RadioGroup1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* Label2 = nullptr;
    TUpDown* UpDown1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* StaticText3 = nullptr;
    QLabel* Label4 = nullptr;
    TUpDown* UpDown2 = nullptr;
    QLabel* StaticText4 = nullptr;
    QLabel* StaticText5 = nullptr;
    QLabel* Label5 = nullptr;
    TUpDown* UpDown3 = nullptr;
    QLabel* StaticText6 = nullptr;
    QPushButton* Button1 = nullptr;

    // What the sequencer reads and writes.
    bool IsRunning() const override;
    bool IsSingingMode() const override;
    int32_t FirstWait() const override;
    int32_t SecondWait() const override;
    int32_t Repetitions() const override;
    void WriteFirstWait(int32_t seconds) override;
    void WriteSecondWait(int32_t seconds) override;

public slots:
    void UpDown1Click(QObject* Sender);
    void UpDown2Click(QObject* Sender);
    void UpDown3Click(QObject* Sender);
    void RadioGroup1Click(QObject* Sender);
    void Button1Click(QObject* Sender);
    void FormShow(QObject* Sender);

protected:
    void showEvent(QShowEvent* event) override;
};

extern TAutoForm* AutoForm;
