// Saves a picture of the main window, with a cell on show, for the README:
//   QT_QPA_PLATFORM=offscreen vocarine_screenshot out.png [cell] [--graded]
// With --graded the cell is sung (a choir voice rendered with FluidSynth,
// one note flat and one far sharp) into the program's input, and the picture
// shows the grade and the trace that listening made of it.
// The windows start in the folder of the bundled cell files, with a silent
// recording device in place of the system's MIDI outputs and a silent take in
// place of the microphone.
#include <QDir>
#include <QPixmap>
#include <QString>
#include <cstdlib>
#include <memory>
#include <optional>

#include "audio/AudioInput.h"
#include "audio/WavFileDevice.h"
#include "core/Keys.h"
#include "midi/MaxMidi.h"
#include "midi/RecordingDevice.h"
#include "ui/Application.h"
#include "ui/VocarineUnit1.h"
#ifdef VOCARINE_SCREENSHOT_TAKES
#include "Takes.h"
#endif

namespace {

#ifdef VOCARINE_SCREENSHOT_TAKES
// The cell as a singer might sing it: a little vibrato, its third note 38
// cents flat and its sixth 75 cents sharp.
std::optional<vocarine::WavAudio> SungTake(const vocarine::TrainerState& state, int cell)
{
    vocarine::takes::TakeRenderer renderer;
    if (!renderer.Ok() || cell < 0 || cell >= vocarine::MaxCells)
        return std::nullopt;
    vocarine::takes::TakeDescription take;
    take.program = vocarine::takes::ChoirAahs;
    double start = 0.4;
    const vocarine::Cell& notes = state.Cells[cell];
    for (int j = 0; j < notes.count && j < vocarine::MaxNotes; ++j) {
        vocarine::takes::TakeNote note;
        note.midi = vocarine::CellNoteKey(state, notes.notes[j]) + (j == 2 ? -0.38 : j == 5 ? 0.75 : 0.0);
        note.start = start;
        note.seconds = 0.45;
        note.vibratoCents = 15.0;
        take.notes.push_back(note);
        start += 0.55;
    }
    return renderer.Render(take);
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    // Taken before the working folder moves to the cell files.
    const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    const int cell = argc > 2 ? std::atoi(argv[2]) : 0;
    const bool graded = argc > 3 && QString::fromLocal8Bit(argv[3]) == QStringLiteral("--graded");

    TApplication app(argc, argv);
    QDir::setCurrent(QStringLiteral(VOCARINE_CELLS_SOURCE_DIR));
    vocarine::TMaxMidi::SetDeviceProvider([] {
        vocarine::MidiDeviceList devices;
        devices.push_back(std::make_unique<vocarine::RecordingDevice>("Built-in synthesizer"));
        return devices;
    });
    vocarine::AudioInputs::SetDeviceProvider([] {
        vocarine::AudioDeviceList devices;
        devices.push_back(std::make_unique<vocarine::WavFileDevice>(
            "Microphone", vocarine::WavAudio{48000, std::vector<float>(480, 0.0f)},
            vocarine::WavFileDevice::Options{.isDefault = true, .loop = true}));
        return devices;
    });
    if (!StartVocarine())
        return 1;
    // The microphone is found on a thread of its own; the picture waits for it.
    while (!Form1->AudioInputsSearched())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);

    Form1->State.CurrentCell = cell;
    Form1->ShowCellCounter();
    Form1->DisplayButtonClick(Form1);
    QApplication::processEvents();

    if (graded) {
#ifdef VOCARINE_SCREENSHOT_TAKES
        const auto take = SungTake(Form1->State, cell);
        if (!take)
            return 1;
        // The take goes in through the real input path, in real time.
        Form1->AudioInputPort->Close();
        vocarine::AudioDeviceList singer;
        singer.push_back(std::make_unique<vocarine::WavFileDevice>("Singer", *take));
        Form1->AudioInputs = std::make_unique<vocarine::AudioInputs>(std::move(singer));
        Form1->AudioInputPort = std::make_unique<vocarine::AudioInputPort>(*Form1->AudioInputs);
        if (!Form1->AudioInputPort->Open(0))
            return 1;
        Form1->AudioInputChanged();
        Form1->SingButtonClick(Form1);
        while (Form1->IsListening())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!Form1->ShownGrade())
            return 1;
#else
        return 2;
#endif
    }
    const bool saved = Form1->grab().save(output, "PNG");
    DestroyWindows();
    return saved ? 0 : 1;
}
