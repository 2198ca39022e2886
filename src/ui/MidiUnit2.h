// The MIDI Setup window: lists the output devices and switches the output port.
#pragma once

#include <QDialog>
#include <cstdint>

class QEvent;
class QListWidget;
class QPushButton;
class QShowEvent;

class TForm2 : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(QWidget* owner = nullptr);

    QPushButton* Button1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    int32_t DeviceCount = 0;

    // Fills the device list once every device is known (waiting for the list
    // when needed); later calls do nothing. The window fills it when it is
    // built if the list is complete then, else when the main window hears
    // that it is, and at the latest when it is first shown.
    void ListDevices();

public slots:
    void ListBox1Click(QObject* Sender);
    void Button1Click(QObject* Sender);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillDeviceList();
    bool listed_ = false;

    // Whether the mouse press now under way already changed the selection
    // (then its click must not switch the device a second time).
    bool pressChangedSelection_ = false;
};

extern TForm2* Form2;
