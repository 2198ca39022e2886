// How long Vocarine takes from start to its first painted main window, with
// the built-in synthesizer as device 0 (its soundfont loads meanwhile) and
// with a silent device in its place, and when the soundfont has loaded.
//
//   startup_bench synth|silent
//
// Run it on a real display or under Xvfb; one run per process, so that every
// run pays for the whole start-up. Prints one line of figures in milliseconds.
#include <QEvent>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "midi/MaxMidi.h"
#include "midi/RecordingDevice.h"
#include "midi/SynthDevice.h"
#include "ui/Application.h"
#include "ui/VocarineUnit1.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Notes the first paint that reaches the main window or one of its controls.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!painted && event->type() == QEvent::Paint && Form1 != nullptr && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->window() == Form1) {
                painted = true;
                at = Clock::now();
            }
        }
        return false;
    }
    bool painted = false;
    Clock::time_point at;
};

}  // namespace

int main(int argc, char** argv)
{
    const auto start = Clock::now();
    const bool silent = argc > 1 && std::strcmp(argv[1], "silent") == 0;
    if (silent) {
        vocarine::TMaxMidi::SetDeviceProvider([] {
            vocarine::MidiDeviceList devices;
            devices.push_back(std::make_unique<vocarine::RecordingDevice>("Silent"));
            return devices;
        });
    }

    TApplication app(argc, argv);
    FirstPaint paint;
    app.installEventFilter(&paint);
    if (!StartVocarine()) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    const auto windowsCreated = Clock::now();

    auto* synth = dynamic_cast<vocarine::SynthDevice*>(Form1->MaxMidi->Device(0));
    Clock::time_point loadedAt{};
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (synth != nullptr && loadedAt == Clock::time_point{} && synth->Loaded())
            loadedAt = Clock::now();
        const bool soundDone = synth == nullptr || !synth->IsOpen() || loadedAt != Clock::time_point{};
        if ((paint.painted && soundDone) || Milliseconds(start, Clock::now()) > 30000)
            app.quit();
    });
    poll.start(1);
    app.exec();

    std::printf("device 0: %s", silent ? "silent recorder" : (synth ? "built-in synthesizer" : "other"));
    if (synth != nullptr)
        std::printf(" (%s, driver %s)", synth->IsOpen() ? "open" : "closed",
                    synth->AudioSetup().driver.empty() ? "none" : synth->AudioSetup().driver.c_str());
    std::printf("; windows created %.1f ms; first paint %.1f ms", Milliseconds(start, windowsCreated),
                paint.painted ? Milliseconds(start, paint.at) : -1.0);
    if (loadedAt != Clock::time_point{})
        std::printf("; soundfont loaded %.1f ms", Milliseconds(start, loadedAt));
    std::printf("\n");
    DestroyWindows();
    return 0;
}
