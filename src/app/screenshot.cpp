// Saves a picture of the main window, with a cell on show, for the README:
//   QT_QPA_PLATFORM=offscreen vocarine_screenshot out.png [cell]
// The windows start in the folder of the bundled cell files, with a silent
// recording device in place of the system's MIDI outputs and a silent take in
// place of the microphone.
#include <QDir>
#include <QPixmap>
#include <QString>
#include <cstdlib>
#include <memory>

#include "audio/AudioInput.h"
#include "audio/WavFileDevice.h"
#include "midi/MaxMidi.h"
#include "midi/RecordingDevice.h"
#include "ui/Application.h"
#include "ui/VocarineUnit1.h"

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    // Taken before the working folder moves to the cell files.
    const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    const int cell = argc > 2 ? std::atoi(argv[2]) : 0;

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
    const bool saved = Form1->grab().save(output, "PNG");
    DestroyWindows();
    return saved ? 0 : 1;
}
