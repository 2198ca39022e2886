// The MIDI Setup window: lists the output devices and switches the output port.
#pragma once

#include <QDialog>
#include <cstdint>

class QListWidget;
class QPushButton;

class TForm2 : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(QWidget* owner = nullptr);

    QPushButton* Button1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    int32_t DeviceCount = 0;

public slots:
    void ListBox1Click(QObject* Sender);
    void Button1Click(QObject* Sender);
};

extern TForm2* Form2;
