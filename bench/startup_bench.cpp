// How long Vocarine takes from exec to its first painted main window, against
// a bare Qt window with the same controls (startup_bare), in alternating runs:
//
//   - with the built-in synthesizer opening on a running sound server: a JACK
//     server with the dummy driver (the one JACK_DEFAULT_SERVER names when it
//     answers, else a private one this program starts);
//   - with no sound system: no JACK server and no PulseAudio server to reach.
//
//   startup_bench [runs] [vocarine] [startup_bare]
//
// Run it on an X display, e.g. `xvfb-run -a build/dev/bench/startup_bench`.
// Every run is a fresh process started from the bundled cell folder. The
// benchmark watches the X server: the time to "mapped" is when the process's
// first top-level window is mapped, the time to "painted" when something is
// first drawn into it (an X DAMAGE report). The JACK column is when the
// synthesizer's audio client appeared on the server (so it did open).
// Prints the medians and their ratio, program over bare window, and how soon
// the program ends when its window is closed straight after the measure.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <jack/jack.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "PrivateJackServer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto RunLimit = std::chrono::seconds(20);
constexpr const char* SynthClientPrefix = "vocarine-synth";

double Milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;  // a window that went away before we looked at it
}

// Notes when the synthesizer's audio client registers with the JACK server.
class JackWatch {
public:
    JackWatch()
    {
        jack_status_t status{};
        client_ = jack_client_open("vocarine-startup-bench", JackNoStartServer, &status);
        if (client_ == nullptr)
            return;
        jack_set_client_registration_callback(client_, &JackWatch::Registered, this);
        if (jack_activate(client_) != 0) {
            jack_client_close(client_);
            client_ = nullptr;
        }
    }
    ~JackWatch()
    {
        if (client_ != nullptr)
            jack_client_close(client_);
    }
    bool Ok() const { return client_ != nullptr; }
    void Arm() { seen_.store(0); }
    // Nanoseconds of the steady clock when the client appeared; 0 not yet.
    int64_t Seen() const { return seen_.load(); }

private:
    static void Registered(const char* name, int registered, void* self)
    {
        if (registered && std::strncmp(name, SynthClientPrefix, std::strlen(SynthClientPrefix)) == 0) {
            int64_t none = 0;
            static_cast<JackWatch*>(self)->seen_.compare_exchange_strong(
                none, Clock::now().time_since_epoch().count());
        }
    }
    jack_client_t* client_ = nullptr;
    std::atomic<int64_t> seen_{0};
};

struct Run {
    std::optional<double> mapped, painted, jack;  // ms after exec
    std::optional<double> closed;                 // ms from the close to the process's end
    bool killed = false;                          // it did not end within 5 s of the close
};

class Watcher {
public:
    explicit Watcher(Display* display) : display_(display), root_(DefaultRootWindow(display))
    {
        XSelectInput(display_, root_, SubstructureNotifyMask);
        XFlush(display_);
    }

    Run Start(const std::string& program, const std::string& folder, JackWatch* jack)
    {
        Drain();
        if (jack != nullptr)
            jack->Arm();
        Run run;
        const auto start = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(folder.c_str()) != 0)
                _exit(126);
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0)
            return run;

        Window main = 0;
        int status = 0;
        bool ended = false;  // before it showed a window: it could not start
        while (!run.painted && Clock::now() - start < RunLimit) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                ended = true;
                std::fprintf(stderr, "%s ended before it painted a window (status %d)\n", program.c_str(),
                             WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
                break;
            }
            WaitForEvents(std::chrono::milliseconds(100));
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                const auto now = Clock::now();
                if (event.type == CreateNotify && event.xcreatewindow.parent == root_) {
                    // Watched from its creation, before anything can be drawn into it.
                    XDamageCreate(display_, event.xcreatewindow.window, XDamageReportNonEmpty);
                    XFlush(display_);
                } else if (event.type == MapNotify && event.xmap.event == root_ && !event.xmap.override_redirect &&
                           main == 0) {
                    main = event.xmap.window;
                    run.mapped = Milliseconds(now - start);
                } else if (event.type == damageEvent_ + XDamageNotify) {
                    const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(event);
                    if (main != 0 && damage.drawable == main && !run.painted)
                        run.painted = Milliseconds(now - start);
                }
            }
        }
        // The synthesizer may still be on its way: give it a moment to show up.
        while (!ended && jack != nullptr && jack->Seen() == 0 && Clock::now() - start < std::chrono::seconds(3))
            usleep(1000);
        if (jack != nullptr && jack->Seen() != 0)
            run.jack = Milliseconds(Clock::time_point(Clock::duration(jack->Seen())) - start);

        // Closed as a user closes it: a process killed while it opens a JACK
        // client can leave the JACK metadata database locked for good.
        if (main != 0 && !ended)
            AskToClose(main);
        const auto closing = Clock::now();
        while (!ended && waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() - closing > std::chrono::seconds(5)) {
                kill(pid, SIGTERM);
                waitpid(pid, &status, 0);
                run.killed = true;
                break;
            }
            usleep(500);
        }
        if (main != 0 && !ended && !run.killed)
            run.closed = Milliseconds(Clock::now() - closing);
        // Let the servers see the process gone before the next one starts.
        usleep(50000);
        return run;
    }

    // What a window manager sends when the user clicks the close button.
    void AskToClose(Window window)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &event);
        XFlush(display_);
    }

    bool HasDamage()
    {
        int error = 0;
        return XDamageQueryExtension(display_, &damageEvent_, &error) != 0;
    }

private:
    void Drain()
    {
        XSync(display_, False);
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
        }
    }

    void WaitForEvents(std::chrono::milliseconds limit)
    {
        if (XPending(display_) > 0)
            return;
        pollfd fd{ConnectionNumber(display_), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(limit.count()));
    }

    Display* display_;
    Window root_;
    int damageEvent_ = 0;
};

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Summary {
    std::vector<double> mapped, painted, jack, closed;
    int failed = 0, killed = 0;
    void Add(const Run& run)
    {
        killed += run.killed ? 1 : 0;
        if (run.closed)
            closed.push_back(*run.closed);
        if (!run.painted || !run.mapped) {
            ++failed;
            return;
        }
        mapped.push_back(*run.mapped);
        painted.push_back(*run.painted);
        if (run.jack)
            jack.push_back(*run.jack);
    }
};

void Measure(const char* condition, Watcher& watcher, int runs, const std::string& program,
             const std::string& bare, const std::string& folder, JackWatch* jack)
{
    Summary vocarine, baseline;
    for (int i = 0; i < runs; ++i) {
        // Alternating, and each of the two goes first every other time.
        if (i % 2 == 0) {
            vocarine.Add(watcher.Start(program, folder, jack));
            baseline.Add(watcher.Start(bare, folder, nullptr));
        } else {
            baseline.Add(watcher.Start(bare, folder, nullptr));
            vocarine.Add(watcher.Start(program, folder, jack));
        }
    }
    const double p = Median(vocarine.painted), b = Median(baseline.painted);
    std::printf("%s, medians of %d runs each:\n", condition, runs);
    std::printf("  vocarine    mapped %6.1f ms, painted %6.1f ms", Median(vocarine.mapped), p);
    if (jack != nullptr)
        std::printf(", synthesizer on JACK %6.1f ms (%zu of %zu runs)", Median(vocarine.jack), vocarine.jack.size(),
                    vocarine.painted.size());
    std::printf("%s\n", vocarine.failed ? " (some runs showed no window)" : "");
    // Closed straight after its first paint, while its devices are made ready.
    std::printf("              ended %.1f ms after the close (worst %.1f ms)%s\n", Median(vocarine.closed),
                vocarine.closed.empty() ? -1.0 : *std::max_element(vocarine.closed.begin(), vocarine.closed.end()),
                vocarine.killed ? ", some runs had to be killed" : "");
    std::printf("  bare window mapped %6.1f ms, painted %6.1f ms%s\n", Median(baseline.mapped), b,
                baseline.failed ? " (some runs showed no window)" : "");
    std::printf("  ratio to first paint: %.2f\n", p > 0 && b > 0 ? p / b : 0.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    // Each run starts in the cell folder: a path given from here is made whole.
    const auto whole = [](const char* path) {
        char* resolved = realpath(path, nullptr);
        const std::string result = resolved != nullptr ? resolved : path;
        std::free(resolved);
        return result;
    };
    const std::string program = argc > 2 ? whole(argv[2]) : VOCARINE_PROGRAM;
    const std::string bare = argc > 3 ? whole(argv[3]) : VOCARINE_BARE_WINDOW;
    const std::string folder = VOCARINE_CELLS_SOURCE_DIR;

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "no X display: run it on a desktop or with xvfb-run -a\n");
        return 1;
    }
    XSetErrorHandler(IgnoreXError);
    Watcher watcher(display);
    if (!watcher.HasDamage()) {
        std::fprintf(stderr, "the X server has no DAMAGE extension\n");
        return 1;
    }
    // No PulseAudio server in either condition, so that the synthesizer's
    // audio goes to the JACK server when one runs.
    setenv("PULSE_SERVER", "unix:/nonexistent/vocarine-bench", 1);
    {
        PrivateJackServer server(VOCARINE_JACK_SCRIPT);
        if (!server.Running()) {
            std::fprintf(stderr, "no JACK server could be started (jackd2 installed?)\n");
            return 1;
        }
        JackWatch jack;
        Measure(("built-in synthesizer on a dummy JACK server (" + server.Name() + ")").c_str(), watcher, runs,
                program, bare, folder, jack.Ok() ? &jack : nullptr);
    }
    setenv("JACK_DEFAULT_SERVER", ("vocarine-bench-absent-" + std::to_string(getpid())).c_str(), 1);
    Measure("no sound system", watcher, runs, program, bare, folder, nullptr);
    XCloseDisplay(display);
    return 0;
}
