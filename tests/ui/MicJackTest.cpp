// The Microphone Setup window against the tests' private JACK server: a
// program that plays audio is listed by its client name, choosing it
// connects it and its sound moves the meter, and its leaving is told.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QProgressBar>
#include <QTest>
#include <cmath>

#include "../midi/JackTestClients.h"
#include "WindowsTest.h"
#include "audio/SystemInputs.h"
#include "ui/MicUnit4.h"
#include "ui/VocarineUnit1.h"

namespace {

using vocarine::testing::JackAudioPlayer;

class MicJackTest : public WindowsTest {
protected:
    void SetUp() override
    {
        WindowsTest::SetUp();
        if (vocarine::testing::TestServerName().empty())
            GTEST_SKIP() << "run through CTest: it starts the private JACK server";
        // The JACK part of the system's inputs; the desktop's and ALSA's are
        // left alone on the machine running the tests.
        UseInputs([] {
            vocarine::AudioDeviceList inputs;
            for (const std::string& client : vocarine::ListJackSources().value_or(std::vector<std::string>{}))
                inputs.push_back(vocarine::MakeJackInput(client));
            return inputs;
        });
    }

    static int RowOf(const QString& name)
    {
        const auto found = MicForm->ListBox1->findItems(name, Qt::MatchExactly);
        return found.isEmpty() ? -1 : MicForm->ListBox1->row(found.front());
    }
};

TEST_F(MicJackTest, AProgramPlayingOnJackIsListedChosenAndHeard)
{
    std::vector<float> tone(4800);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * static_cast<float>(std::sin(2 * M_PI * 440.0 * i / 48000.0));
    JackAudioPlayer singer("singer", tone);
    ASSERT_TRUE(singer.Ok());
    StartProgram("1\n3  0 1  2 1  4 1\n");
    // No default input on JACK: nothing opened, and the status line says so.
    EXPECT_FALSE(Form1->AudioInputPort->IsOpen());
    EXPECT_TRUE(Form1->StatusText().startsWith("No microphone: the desktop has no default input."))
        << Form1->StatusText().toStdString();

    Form1->MicrophoneSetup1->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(MicForm));
    const int row = RowOf("singer");
    ASSERT_GT(row, 0);
    QTest::mouseClick(MicForm->ListBox1->viewport(), Qt::LeftButton, {},
                      MicForm->ListBox1->visualItemRect(MicForm->ListBox1->item(row)).center());
    ASSERT_TRUE(Form1->AudioInputPort->IsOpen()) << Form1->AudioInputPort->LastError();
    EXPECT_EQ(Form1->AudioInputPort->OpenDevice(), row - 1);
    EXPECT_EQ(Form1->StatusText(), QString());
    // -6 dB on a 60 dB meter.
    ASSERT_TRUE(QTest::qWaitFor([] { return MicForm->LevelMeter1->value() >= 85; }, 5000))
        << MicForm->LevelMeter1->value();

    singer.Close();
    ASSERT_TRUE(QTest::qWaitFor([] { return Form1->StatusText().contains("gone"); }, 5000))
        << Form1->StatusText().toStdString();
    EXPECT_EQ(Form1->StatusText(),
              "No microphone: singer: the JACK client is gone. Choose one under Setup > Microphone Setup.");
}

}  // namespace
