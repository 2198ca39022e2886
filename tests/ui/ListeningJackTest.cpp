// Listening end to end through JACK: a test client plays a sung take into the
// private dummy JACK server, the main window listens to that client through
// its input port, and the grade shows on the note labels.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QElapsedTimer>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include "../midi/JackTestClients.h"
#include "ListenTestSupport.h"
#include "WindowsTest.h"
#include "audio/SystemInputs.h"
#include "ui/PitchTrace.h"
#include "ui/VocarineUnit1.h"

namespace {

using namespace listen_testing;
using vocarine::Verdict;
using vocarine::testing::JackAudioPlayer;
using vocarine::testing::TestServerName;

const std::string Scale = "1\n5 7 1 8 1 9 1 10 1 11 1\n";
const std::vector<int> ScaleKeys{60, 62, 64, 65, 67};  // do re mi fa sol in C
constexpr double Skip = std::numeric_limits<double>::quiet_NaN();

struct JackTake {
    const char* name;
    std::vector<double> cents;
    std::vector<Verdict> verdicts;
};

class ListeningJackTest : public WindowsTest, public ::testing::WithParamInterface<JackTake> {
protected:
    void SetUp() override
    {
        if (TestServerName().empty())
            GTEST_SKIP() << "run through CTest: it starts the private JACK server";
        WindowsTest::SetUp();
    }
};

TEST_P(ListeningJackTest, ATakePlayedIntoTheInputIsGradedOnTheLabels)
{
    const JackTake& c = GetParam();
    const std::string singerName = std::string("singer-") + c.name;
    UseInputs([singerName] {
        vocarine::AudioDeviceList inputs;
        inputs.push_back(vocarine::MakeJackInput(singerName));
        return inputs;
    });
    StartProgram(Scale);
    QTest::mouseClick(Form1->DisplayButton, Qt::LeftButton);

    // The take is rendered at the server's rate; a second of silence before
    // it leaves time to connect.
    uint32_t rate = 0;
    {
        JackAudioPlayer probe("rate-probe", std::vector<float>(16, 0.0f));
        ASSERT_TRUE(probe.Ok());
        rate = probe.SampleRate();
    }
    std::vector<Stretch> stretches{{0.0, 0.7}};
    for (const Stretch& s : SungCell(ScaleKeys, c.cents))
        stretches.push_back(s);
    JackAudioPlayer singer(singerName, RenderTake(stretches, 0.3f, rate), 1, /*loop=*/false);
    ASSERT_TRUE(singer.Ok());
    ASSERT_EQ(singer.ClientName(), singerName);
    ASSERT_TRUE(Form1->AudioInputPort->Open(0)) << Form1->AudioInputPort->LastError();
    Form1->AudioInputChanged();
    QTest::mouseClick(Form1->SingButton, Qt::LeftButton);
    ASSERT_TRUE(Form1->IsListening());

    QElapsedTimer clock;
    clock.start();
    while (Form1->IsListening() && clock.elapsed() < 20000)
        QTest::qWait(10);
    ASSERT_FALSE(Form1->IsListening());
    ASSERT_NE(Form1->ShownGrade(), nullptr) << Form1->StatusText().toStdString();
    for (int j = 0; j < 5; ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(Form1->LabelVerdict(j), c.verdicts[static_cast<std::size_t>(j)]);
        EXPECT_EQ(Form1->NoteLabels[j]->palette().color(QPalette::Window),
                  TForm1::VerdictColour(c.verdicts[static_cast<std::size_t>(j)]));
    }
    EXPECT_FALSE(Form1->GradeLine->isHidden());
    EXPECT_FALSE(Form1->PitchTrace->IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Takes, ListeningJackTest,
    ::testing::Values(
        JackTake{"InTune", {}, {Verdict::InTune, Verdict::InTune, Verdict::InTune, Verdict::InTune, Verdict::InTune}},
        JackTake{"FourthNoteEightyCentsSharp",
                 {0, 0, 0, 80, 0},
                 {Verdict::InTune, Verdict::InTune, Verdict::InTune, Verdict::Wrong, Verdict::InTune}},
        JackTake{"ThirdNoteSkipped",
                 {0, 0, Skip, 0, 0},
                 {Verdict::InTune, Verdict::InTune, Verdict::Missed, Verdict::InTune, Verdict::InTune}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
