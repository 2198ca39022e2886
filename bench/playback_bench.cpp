// How exactly and how cheaply a cell is played.
//
// Plays a ten-note cell at W = 800, 100 and 0 ms through PlayCellNotes into a
// recording device behind the output port, three ways in the same run: with
// the window alive between the notes (the live wait the main window uses:
// the event loop runs until shortly before each note ends), holding the
// thread as before (a sleep, then polling the clock for the last stretch),
// and through a plain busy wait on a whole-millisecond clock (the clock is
// read until W milliseconds have passed). For each W: the error of every note's length
// (note-on to its note-off) against W, as median, 99th percentile and maximum
// of its size in microseconds, and the process's CPU time over the wall time.
//
// Then the same cell through a real JACK MIDI port (a dummy JACK server: the
// one JACK_DEFAULT_SERVER names, or a private one started for the run), timed
// by a receiving port of this program from its frame-time stamps.
//
// Also printed: how late this machine wakes a sleeping thread, and how much
// time the host took from the virtual machine's processors during each run
// (steal): both bound what any clock-timed wait can reach.
//
// The ways take turns cell by cell, so a busy moment of the machine falls on
// all of them alike.
//
//   playback_bench [--no-jack] [--long]

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PrivateJackServer.h"
#include "core/Keys.h"
#include "core/NoteTable.h"
#include "core/TrainerState.h"
#include "midi/MaxMidi.h"
#include "midi/RecordingDevice.h"
#include "ui/LiveWait.h"
#include "ui/Playback.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace {

using namespace vocarine;
using namespace std::chrono_literals;

using PlayFunction = std::function<void(TMaxMidiOut&, const TrainerState&, int w)>;

struct Figures {
    std::vector<double> errorsUs;  // note length minus W, per note
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double stolenSeconds = 0;      // time the virtual machine's processors were taken by the host
};

TrainerState TenNoteCell()
{
    TrainerState state;
    BuildNoteTable(state.NoteTable);
    state.CellCount = 1;
    state.CurrentCell = 0;
    Cell& cell = state.Cells[0];
    cell.count = 10;
    for (int i = 0; i < 10; ++i)
        cell.notes[std::size_t(i)] = NoteRef{i, 1};
    return state;
}

// Steal time of all processors from /proc/stat: when it grows, the machine
// itself was not running, and every clock-timed wait comes out late.
double StolenSeconds()
{
    std::FILE* stat = std::fopen("/proc/stat", "r");
    if (stat == nullptr)
        return 0;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    const int read = std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice, &system, &idle,
                                 &iowait, &irq, &softirq, &steal);
    std::fclose(stat);
    return read == 8 ? double(steal) / double(sysconf(_SC_CLK_TCK)) : 0;
}

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The plain way: hold each note by polling a whole-millisecond clock.
void PlayWithMillisecondBusyWait(TMaxMidiOut& out, const TrainerState& state, int w)
{
    const auto wholeMilliseconds = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    const Cell& cell = state.Cells[std::size_t(state.CurrentCell)];
    for (int i = 0; i < cell.count - 1; ++i) {
        MidiEvent event{SendNow, NoteOnStatus, CellNoteKey(state, cell.notes[std::size_t(i)]), NoteVelocity, 0};
        out.PutMidiOut(&event);
        const auto t0 = wholeMilliseconds();
        while (wholeMilliseconds() - t0 < w) {
        }
        event.status = NoteOffStatus;
        out.PutMidiOut(&event);
    }
    MidiEvent last{SendNow, NoteOnStatus, CellNoteKey(state, cell.notes[std::size_t(cell.count - 1)]), NoteVelocity, 0};
    out.PutMidiOut(&last);
}

// Before: the thread is held for the whole cell.
void PlayHoldingTheThread(TMaxMidiOut& out, const TrainerState& state, int w)
{
    PlayCellNotes(out, state, [w] { return w; });
}

// After: the window's event loop runs between the notes.
LiveWait* live = nullptr;

void PlayWithTheWindowAlive(TMaxMidiOut& out, const TrainerState& state, int w)
{
    LiveWait::Playing playing(*live);
    PlayCellNotes(out, state, [w] { return w; },
                  [](SteadyClock::time_point deadline) { return live->WaitUntil(deadline); });
}

// Note lengths from a list of (status, time in microseconds) in the order sent.
std::vector<double> LengthErrors(const std::vector<std::pair<uint8_t, double>>& messages, int w)
{
    std::vector<double> errors;
    for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
        if ((messages[i].first & 0xF0) == 0x90 && (messages[i + 1].first & 0xF0) == 0x80)
            errors.push_back(messages[i + 1].second - messages[i].second - w * 1000.0);
    }
    return errors;
}

// Each way into a recording device of its own, cell by cell in turn, so that
// every way meets the same moments of the machine.
std::vector<Figures> PlayIntoRecorders(const std::vector<PlayFunction>& ways, int w, int cells)
{
    struct Line {
        RecordingDevice* recorder;
        std::unique_ptr<TMaxMidi> midi;
        std::unique_ptr<TMaxMidiOut> out;
    };
    std::vector<Line> lines;
    for (std::size_t i = 0; i < ways.size(); ++i) {
        auto owned = std::make_unique<RecordingDevice>("bench", true, std::size_t(cells) * 19 + 16);
        RecordingDevice* recorder = owned.get();
        MidiDeviceList devices;
        devices.push_back(std::move(owned));
        auto midi = std::make_unique<TMaxMidi>(std::move(devices));
        auto out = std::make_unique<TMaxMidiOut>(*midi);
        out->OpenMidiOut(0, OpenFlags);
        lines.push_back({recorder, std::move(midi), std::move(out)});
    }
    const TrainerState state = TenNoteCell();

    std::vector<Figures> figures(ways.size());
    for (int c = 0; c < cells; ++c) {
        for (std::size_t i = 0; i < ways.size(); ++i) {
            const double stolen0 = StolenSeconds();
            const double cpu0 = CpuSeconds();
            const auto wall0 = std::chrono::steady_clock::now();
            ways[i](*lines[i].out, state, w);
            figures[i].wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
            figures[i].cpuSeconds += CpuSeconds() - cpu0;
            figures[i].stolenSeconds += StolenSeconds() - stolen0;
        }
    }
    for (std::size_t i = 0; i < ways.size(); ++i) {
        const auto& recorded = lines[i].recorder->Messages();
        if (recorded.empty())
            continue;
        std::vector<std::pair<uint8_t, double>> messages;
        for (const RecordedMessage& m : recorded)
            messages.emplace_back(m.status, std::chrono::duration<double, std::micro>(m.at - recorded.front().at).count());
        figures[i].errorsUs = LengthErrors(messages, w);
    }
    return figures;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * double(values.size() - 1);
    const auto below = std::size_t(std::floor(rank));
    const auto above = std::min(values.size() - 1, below + 1);
    return values[below] + (values[above] - values[below]) * (rank - double(below));
}

struct Summary {
    double median, p99, max, lowest, highest;
};

Summary Summarise(const std::vector<double>& errors)
{
    std::vector<double> sizes;
    for (double e : errors)
        sizes.push_back(std::fabs(e));
    return {Percentile(sizes, 50), Percentile(sizes, 99), sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end()),
            errors.empty() ? 0 : *std::min_element(errors.begin(), errors.end()),
            errors.empty() ? 0 : *std::max_element(errors.begin(), errors.end())};
}

void PrintRow(const char* how, int w, const Figures& f)
{
    const Summary s = Summarise(f.errorsUs);
    const auto over = std::count_if(f.errorsUs.begin(), f.errorsUs.end(), [](double e) { return std::fabs(e) > 1000; });
    std::printf("  %-22s W=%4d  notes %4zu  |error| us: median %8.1f  p99 %8.1f  max %8.1f  (signed %+9.1f .. %+9.1f)"
                "  over 1 ms: %3td  CPU %5.1f%% of a core  (steal %.2f s in %.1f s)\n",
                how, w, f.errorsUs.size(), s.median, s.p99, s.max, s.lowest, s.highest, over,
                f.wallSeconds > 0 ? 100.0 * f.cpuSeconds / f.wallSeconds : 0.0, f.stolenSeconds, f.wallSeconds);
}

// A JACK MIDI input of this program that keeps what arrives with its frame time.
class Receiver {
public:
    Receiver()
    {
        jack_status_t status{};
        client_ = jack_client_open("vocarine-bench", JackNoStartServer, &status);
        if (client_ == nullptr)
            return;
        ring_ = jack_ringbuffer_create(1 << 18);
        jack_set_process_callback(client_, &Receiver::Process, this);
        port_ = jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (port_ == nullptr || jack_activate(client_) != 0)
            port_ = nullptr;
    }

    ~Receiver()
    {
        if (client_ != nullptr) {
            jack_deactivate(client_);
            jack_client_close(client_);
        }
        if (ring_ != nullptr)
            jack_ringbuffer_free(ring_);
    }

    bool Ok() const { return port_ != nullptr; }
    std::string PortName() const { return jack_port_name(port_); }
    double Rate() const { return jack_get_sample_rate(client_); }
    jack_nframes_t Period() const { return jack_get_buffer_size(client_); }

    // (status, frame time) of everything received, once `count` are in or 5 s have passed.
    std::vector<std::pair<uint8_t, uint32_t>> Take(std::size_t count)
    {
        std::vector<std::pair<uint8_t, uint32_t>> taken;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (taken.size() < count && std::chrono::steady_clock::now() < deadline) {
            Entry entry{};
            while (jack_ringbuffer_read_space(ring_) >= sizeof entry) {
                jack_ringbuffer_read(ring_, reinterpret_cast<char*>(&entry), sizeof entry);
                taken.emplace_back(entry.status, entry.frame);
            }
            std::this_thread::sleep_for(2ms);
        }
        return taken;
    }

private:
    struct Entry {
        uint32_t frame;
        uint8_t status;
    };

    static int Process(jack_nframes_t frames, void* self)
    {
        auto* receiver = static_cast<Receiver*>(self);
        void* buffer = jack_port_get_buffer(receiver->port_, frames);
        const jack_nframes_t start = jack_last_frame_time(receiver->client_);
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0)
                continue;
            const Entry entry{start + event.time, event.buffer[0]};
            if (jack_ringbuffer_write_space(receiver->ring_) >= sizeof entry)
                jack_ringbuffer_write(receiver->ring_, reinterpret_cast<const char*>(&entry), sizeof entry);
        }
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
};

int RunThroughJack(const std::vector<std::pair<int, int>>& plan, const std::vector<std::pair<const char*, PlayFunction>>& ways)
{
    PrivateJackServer server(VOCARINE_JACK_SCRIPT);
    if (!server.Running()) {
        std::fprintf(stderr, "no JACK server: could not start one with %s\n", VOCARINE_JACK_SCRIPT);
        return 1;
    }
    Receiver receiver;
    if (!receiver.Ok()) {
        std::fprintf(stderr, "could not open a receiving JACK port\n");
        return 1;
    }
    TMaxMidi midi;
    int index = -1;
    char name[32];
    for (int i = 0; midi.GetMidiOutDescription(i, name, sizeof name) != 0; ++i)
        if (receiver.PortName() == name)
            index = i;
    TMaxMidiOut out(midi);
    if (index < 0 || out.OpenMidiOut(uint16_t(index), OpenFlags) <= 32) {
        std::fprintf(stderr, "could not open %s through the output port: %s\n", receiver.PortName().c_str(),
                     out.LastOpenError().c_str());
        return 1;
    }
    std::printf("Through a JACK MIDI port (server %s%s, %.0f Hz, %u frames per period = %.0f us), "
                "timed by the receiver's frame times:\n",
                server.Name().c_str(), server.StartedHere() ? ", started for this run" : "", receiver.Rate(),
                receiver.Period(), receiver.Period() / receiver.Rate() * 1e6);
    const TrainerState state = TenNoteCell();
    for (const auto& [w, cells] : plan)
    for (const auto& [how, play] : ways) {
        Figures figures;
        const double stolen0 = StolenSeconds();
        const double cpu0 = CpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        for (int c = 0; c < cells; ++c)
            play(out, state, w);
        figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        figures.cpuSeconds = CpuSeconds() - cpu0;
        figures.stolenSeconds = StolenSeconds() - stolen0;
        const auto arrived = receiver.Take(std::size_t(cells) * 19);
        std::vector<std::pair<uint8_t, double>> messages;
        for (const auto& [status, frame] : arrived)
            messages.emplace_back(status, double(int32_t(frame - arrived.front().second)) / receiver.Rate() * 1e6);
        figures.errorsUs = LengthErrors(messages, w);
        PrintRow(how, w, figures);
        if (arrived.size() != std::size_t(cells) * 19)
            std::printf("    %zu of %d messages arrived\n", arrived.size(), cells * 19);
        out.ResetMidiOut();
        receiver.Take(1);
    }
    return 0;
}

// What this machine gives any sleeping wait: how late a thread wakes from a
// 5 ms sleep. A wait that sleeps for most of W can be no more exact than this
// allows past its polling stretch.
void PrintWakeUpLatency()
{
    std::vector<double> late;
    for (int i = 0; i < 400; ++i) {
        const auto deadline = std::chrono::steady_clock::now() + 5ms;
        std::this_thread::sleep_until(deadline);
        late.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - deadline).count());
    }
    std::printf("This machine wakes a thread from a 5 ms sleep late by (us): median %.1f  p90 %.1f  p99 %.1f  max %.1f\n",
                Percentile(late, 50), Percentile(late, 90), Percentile(late, 99),
                *std::max_element(late.begin(), late.end()));
}

}  // namespace

int main(int argc, char** argv)
{
    bool withJack = true;
    int cellsAt800 = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-jack") == 0) {
            withJack = false;
        } else if (std::strcmp(argv[i], "--long") == 0) {
            cellsAt800 = 20;
        } else {
            std::fprintf(stderr, "usage: playback_bench [--no-jack] [--long]\n");
            return 2;
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Qt's notes about the platform would only clutter the table.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // The live wait serves a window's event loop: a window, with a one-second
    // timer like the main window's, on the offscreen platform.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QWidget window;
    QTimer tick;
    tick.start(1000);
    LiveWait liveWait(&window, &tick);
    live = &liveWait;
    const std::vector<std::pair<const char*, PlayFunction>> ways = {
        {"window alive (after)", PlayWithTheWindowAlive},
        {"thread held (before)", PlayHoldingTheThread},
        {"busy wait, whole ms", PlayWithMillisecondBusyWait},
    };
    // (W, cells): about 36 s of notes for each long W (2.4 min at W = 800 with
    // --long, for a 99th percentile that is not just the worst note), many
    // cells at W = 0.
    const std::vector<std::pair<int, int>> plan = {{800, cellsAt800}, {100, 40}, {0, 200}};

    PrintWakeUpLatency();
    std::printf("A ten-note cell into a recording device behind the output port\n");
    std::vector<PlayFunction> plays;
    for (const auto& way : ways)
        plays.push_back(way.second);
    for (const auto& [w, cells] : plan) {
        const std::vector<Figures> figures = PlayIntoRecorders(plays, w, cells);
        for (std::size_t i = 0; i < ways.size(); ++i)
            PrintRow(ways[i].first, w, figures[i]);
    }
    if (!withJack)
        return 0;
    return RunThroughJack({{800, 2}, {100, 10}, {0, 20}}, {ways[0], ways[1]});
}
