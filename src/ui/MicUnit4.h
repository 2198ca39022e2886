// The Microphone Setup window: lists the audio inputs, switches the input
// port, shows the level of what arrives, and holds the "Any octave" choice
// that grading reads.
#pragma once

#include <QDialog>
#include <cstdint>

class QCheckBox;
class QEvent;
class QHideEvent;
class QListWidget;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QTimer;

class TMicForm : public QDialog {
    Q_OBJECT

public:
    explicit TMicForm(QWidget* owner = nullptr);

    QListWidget* ListBox1 = nullptr;     // "None", then one entry per input: entry i + 1 is input i
    QProgressBar* LevelMeter1 = nullptr;  // the level of what arrives, 0 (-60 dB or less) to 100 (full scale)
    QCheckBox* CheckBox1 = nullptr;       // "Any octave": a cell sung an octave or two off counts
    QPushButton* Button1 = nullptr;       // "OK"
    QTimer* Timer1 = nullptr;             // reads the level while the window shows
    int32_t DeviceCount = 0;              // inputs listed, "None" not counted

    // Whether a cell sung an octave or two from where it is written counts.
    bool AnyOctave() const;

public slots:
    void ListBox1Click(QObject* Sender);
    void Button1Click(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    // Lists the main window's inputs again (they are searched after start-up).
    void FillDeviceList();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Marks the entry of the input in use, without switching anything.
    void ShowInputInUse();

    bool pressChangedSelection_ = false;
    bool showingInUse_ = false;    // the selection is being set to show, not chosen
    bool failureTold_ = false;     // the open input's failure went to the status line
};

extern TMicForm* MicForm;
