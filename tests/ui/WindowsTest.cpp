#include "WindowsTest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <memory>

#include "audio/WavFileDevice.h"
#include "midi/MaxMidi.h"
#include "ui/Application.h"
#include "ui/OpenDialog.h"
#include "ui/VocarineUnit1.h"

void WindowsTest::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    previousDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    SetErrorBoxForTesting([this](const QString& text) { errorBoxes_.push_back(text); });
    SetWarningBoxForTesting([this](const QString& text) { warnings_.push_back(text); });
    TOpenDialog::SetAnswerForTesting([](TOpenDialog&) { return false; });
    TForm1::SetStartupFallbackForTesting(QStringList{});
    UseInputs([] {
        vocarine::AudioDeviceList inputs;
        vocarine::WavAudio silence{44100, std::vector<float>(4410, 0.0f)};
        inputs.push_back(std::make_unique<vocarine::WavFileDevice>(
            "Silent input", std::move(silence), vocarine::WavFileDevice::Options{true, true, true}));
        return inputs;
    });
}

void WindowsTest::TearDown()
{
    DestroyWindows();
    vocarine::TMaxMidi::SetDeviceProvider({});
    vocarine::AudioInputs::SetDeviceProvider({});
    SetErrorBoxForTesting({});
    SetWarningBoxForTesting({});
    TOpenDialog::SetAnswerForTesting({});
    TForm1::SetStartupFallbackForTesting(std::nullopt);
    QDir::setCurrent(previousDir_);
}

QString WindowsTest::WriteFile(const QString& name, const std::string& text)
{
    const QString path = dir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.data(), static_cast<qint64>(text.size()));
    return path;
}

void WindowsTest::StartProgram(std::optional<std::string> startupCells, std::vector<bool> openable)
{
    if (startupCells)
        WriteFile("majortonic.txt", *startupCells);
    UseDevices(std::move(openable));
    CreateWindows();
    // The program searches once its window is painted; these windows may never be.
    Form1->StartAudioInputSearch();
    ASSERT_TRUE(QTest::qWaitFor([] { return Form1->AudioInputsSearched(); }, 10000));
}

void WindowsTest::UseDevices(std::vector<bool> openable)
{
    devices_.clear();
    vocarine::TMaxMidi::SetDeviceProvider([this, openable] {
        devices_.clear();  // each new MIDI layer gets devices of its own
        vocarine::MidiDeviceList list;
        for (std::size_t i = 0; i < openable.size(); ++i) {
            auto device = std::make_unique<vocarine::RecordingDevice>(
                "Recorder " + std::to_string(i), openable[i]);
            devices_.push_back(device.get());
            list.push_back(std::move(device));
        }
        return list;
    });
}

void WindowsTest::UseInputs(vocarine::AudioInputs::DeviceProvider provider)
{
    vocarine::AudioInputs::SetDeviceProvider(std::move(provider));
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}
