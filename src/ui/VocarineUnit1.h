// The main window: owns the trainer's state and receives every command.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "audio/AudioInput.h"
#include "core/Grading.h"
#include "core/Listening.h"
#include "core/TrainerState.h"
#include "core/TrainerView.h"
#include "midi/MaxMidi.h"

namespace vocarine {
class PitchTracker;
}

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QSlider;
class QTimer;
class TShape;
class TOpenDialog;
class TPitchTrace;
class LiveWait;

class TForm1 : public QMainWindow, public vocarine::TrainerView {
    Q_OBJECT

public:
    explicit TForm1(QWidget* owner = nullptr);
    ~TForm1() override;

    // Designed components.
    QPushButton* DisplayButton = nullptr;
    std::unique_ptr<vocarine::TMaxMidi> MaxMidi;
    std::unique_ptr<vocarine::TMaxMidiOut> MaxMidiOut;
    QPushButton* PlayButton = nullptr;
    QSlider* TrackBar1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* TonicButton = nullptr;
    QPushButton* NewKeyButton = nullptr;
    TShape* Shape2 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QPushButton* KeepButton = nullptr;
    QPushButton* DiscardButton = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QLabel* StaticText3 = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* MIDISetup1 = nullptr;
    QAction* MIDISetup2 = nullptr;
    TOpenDialog* OpenDialog1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* OpenFile1 = nullptr;
    QTimer* Timer1 = nullptr;
    QMenu* Au1 = nullptr;
    QAction* AutoDrive1 = nullptr;

    // The microphone: the audio inputs and the one port listening reads from.
    // Both exist from the start, empty; the inputs are searched for, and the
    // desktop's default one opened, on a thread of their own once the window
    // is first painted, so that it shows at once. AudioInputsFound() tells
    // when they are in place.
    std::unique_ptr<vocarine::AudioInputs> AudioInputs;
    std::unique_ptr<vocarine::AudioInputPort> AudioInputPort;
    QAction* MicrophoneSetup1 = nullptr;
    bool AudioInputsSearched() const { return audioInputsSearched_; }
    // Starts the search now if it has not started (a window never shown, in tests).
    void StartDeviceWork();
    void StartAudioInputSearch();
    // The input was opened, closed, switched or stopped: the status line
    // tells why there is no microphone (none found, none chosen, the open
    // failed, the input stopped), or forgets it.
    void AudioInputChanged();
    // Whether a cell sung an octave or two from where it is written counts:
    // the Microphone Setup window's "Any octave", read at the moment of use.
    bool AnyOctave() const;
    void SetAnyOctave(bool on);

    // The trainer's state: note table, cell book, key, rotation, AutoDrive counters.
    vocarine::TrainerState State;
    std::array<QLabel*, 10> NoteLabels{};

    // View operations the trainer's logic calls.
    void ShowCellCounter() override;
    void ShowCell(int32_t cell) override;
    void HideCell() override;
    void PlayCurrentCell() override;
    void RepaintNow() override;

    int32_t PickRandom(int32_t n);

    // Loads a cell file; a refused file leaves everything as it was and the
    // returned text says why (empty on success).
    QString LoadCellFile(const QString& fileName);

    // Tells the user, without a modal box, that the MIDI output could not be opened.
    void ReportMidiOpenFailure();
    // The last message shown in the status line (for tests and the window).
    QString StatusText() const;

    // The status line at the bottom of the window; hidden while it has nothing to say.
    QLabel* StatusLine = nullptr;

    // Listening: the Sing button, the sung pitch over the panel, the cents
    // beside each graded note and the line that sums the grade up.
    QPushButton* SingButton = nullptr;
    TPitchTrace* PitchTrace = nullptr;
    std::array<QLabel*, 10> CentsLabels{};
    QLabel* GradeLine = nullptr;
    QTimer* ListenTimer = nullptr;

    bool IsListening() const { return take_.has_value(); }
    // The grade on show and the cell it belongs to.
    const vocarine::CellGrade* ShownGrade() const;
    // The verdict a note label shows, nullopt when it shows none.
    std::optional<vocarine::Verdict> LabelVerdict(int note) const;
    static QColor VerdictColour(vocarine::Verdict verdict);

    // The key changed: a grade in the old key no longer holds.
    void KeyChanged();

    // How long a take may last and the quiet that ends it.
    static void SetTakeLimitsForTesting(std::optional<vocarine::TakeLimits> limits);
    // After the program last sounded, input is thrown away this long: the
    // last note of a cell and the tonic are never released and go on ringing.
    static constexpr int RingingTailMs = 1000;

    // When the working folder holds no majortonic.txt, the copy installed with
    // the program is loaded: from <program folder>/../share/vocarine, then from
    // the folder the build installs to. Tests pass an empty list (no fallback)
    // or folders of their own; nullopt brings back those two.
    static void SetStartupFallbackForTesting(std::optional<QStringList> folders);
    static QStringList StartupFallbackFolders();

public slots:
    void DisplayButtonClick(QObject* Sender);
    void PlayButtonClick(QObject* Sender);
    void TonicButtonClick(QObject* Sender);
    void NewKeyButtonClick(QObject* Sender);
    void KeepButtonClick(QObject* Sender);
    void DiscardButtonClick(QObject* Sender);
    void OpenFile1Click(QObject* Sender);
    void MIDISetup2Click(QObject* Sender);
    void AutoDrive1Click(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void SingButtonClick(QObject* Sender);
    void ListenTimerTimer(QObject* Sender);
    void MicrophoneSetup1Click(QObject* Sender);

signals:
    void AudioInputsFound();
    // Once, when the window is first on the screen (or a second after it was
    // shown, should it never be painted), before the devices are made ready.
    void OnScreen();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void BuildNoteTable();
    void CreateNoteLabels();

    void CreateMidi();
    void CreateControls();
    void CreateMenu();
    void LoadStartupCells();
    void SetStatus(QString& part, const QString& text);
    QSize SmallestWholeSize() const;

    // Listening.
    enum class TakeOutcome { Graded, Cancelled, DeviceFailed };
    void CreateListening();
    void StartTake(bool byAutoDrive);
    void EndTake(TakeOutcome outcome);
    void ReadInput();
    void BeginSounding();
    void EndSounding();
    bool Muted() const;
    void ShowGrade(int cell, vocarine::CellGrade grade);
    void ClearGrade();
    void PaintGrade();
    void UpdateSingButton();

    std::optional<vocarine::Take> take_;
    std::unique_ptr<vocarine::PitchTracker> tracker_;
    QElapsedTimer takeClock_;
    bool takeByAutoDrive_ = false;
    bool takeClipped_ = false;
    int32_t takeCell_ = 0;
    int32_t takeKey_ = 0;
    std::optional<double> takeFoldTo_;   // the cell's middle, when any octave counts
    std::vector<float> readBuffer_;
    vocarine::PitchTrack newFrames_;

    QElapsedTimer clock_;               // runs from construction
    bool sounding_ = false;             // a cell or the tonic is being put out
    qint64 muteUntilMs_ = -1;           // by clock_
    bool inAutoDriveTick_ = false;
    std::optional<int32_t> shownCell_;  // the cell the labels show
    std::optional<int32_t> gradedCell_;
    vocarine::CellGrade grade_;

    LiveWait* liveWait_ = nullptr;  // keeps the window alive while a cell plays
    QString cellsStatus_;  // why no cells were loaded at start-up
    QString midiStatus_;   // why the output is silent
    QString audioStatus_;  // why nothing is heard
    std::thread audioInputSearch_;
    bool audioInputsSearched_ = false;
    bool onScreen_ = false;
    QString listenStatus_; // what went wrong with the last take
};

extern TForm1* Form1;
