// How quickly the main window answers the desktop's "are you alive?" question
// while a cell plays, and how soon the program ends when its window is closed
// meanwhile.
//
// Starts the program on the X display (run it under Xvfb, with no window
// manager) in a scratch folder whose majortonic.txt holds one ten-note cell,
// sets the tempo to the slowest (W = 1950 ms) and presses Play with xdotool,
// as a user would. While the cell plays (9 x 1950 ms) it sends the window a
// window manager's ping, a WM_PROTOCOLS / _NET_WM_PING ClientMessage, every
// 250 ms and times each answer, which comes back to the root window. Then it
// plays the cell again and, 2 s into it, asks the window to close
// (WM_DELETE_WINDOW) and times how long the program takes to end.
//
//   xvfb-run -a ping_bench PROGRAM
//
// GNOME marks a window "not responding" when a ping goes 5 s unanswered.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Play and the tempo track bar inside the window's client area, in the
// design's pixels, under a menu bar of about 25 pixels.
constexpr int MenuBar = 25;
constexpr int PlayX = 59 + 60, PlayY = 247 + 18 + MenuBar;
constexpr int TempoX = 457 + 90, TempoY = 500 + 27 + MenuBar;
constexpr auto CellSpan = 9 * 1950ms;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& folder = {})
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string previous = std::filesystem::current_path();
    if (!folder.empty())
        std::filesystem::current_path(folder);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        pid = -1;
    if (!folder.empty())
        std::filesystem::current_path(previous);
    return pid;
}

void Xdotool(const std::vector<std::string>& args)
{
    std::vector<std::string> all{"xdotool"};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = Spawn(all);
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
}

std::optional<Window> FindWindow(Display* display, const char* title)
{
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return std::nullopt;
    std::optional<Window> found;
    for (unsigned int i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        XWindowAttributes attributes{};
        if (XFetchName(display, children[i], &name) && name != nullptr) {
            if (std::strcmp(name, title) == 0 && XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.map_state == IsViewable)
                found = children[i];
            XFree(name);
        }
    }
    if (children != nullptr)
        XFree(children);
    return found;
}

class Pinger {
public:
    explicit Pinger(Display* display) : display_(display), root_(DefaultRootWindow(display))
    {
        protocols_ = XInternAtom(display, "WM_PROTOCOLS", False);
        ping_ = XInternAtom(display, "_NET_WM_PING", False);
        deleteWindow_ = XInternAtom(display, "WM_DELETE_WINDOW", False);
        // The answer is sent to the root window for structure listeners.
        XSelectInput(display, root_, StructureNotifyMask | SubstructureNotifyMask);
    }

    // Sends one ping and waits up to `limit` for its answer.
    std::optional<Clock::duration> Ping(Window window, Clock::duration limit)
    {
        const long stamp = ++stamp_;
        const auto sent = Clock::now();
        Send(window, ping_, stamp);
        while (Clock::now() - sent < limit) {
            while (XPending(display_)) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == ClientMessage && event.xclient.window == root_ &&
                    event.xclient.message_type == protocols_ && Atom(event.xclient.data.l[0]) == ping_ &&
                    event.xclient.data.l[1] == stamp)
                    return Clock::now() - sent;
            }
            std::this_thread::sleep_for(200us);
        }
        return std::nullopt;
    }

    void AskToClose(Window window) { Send(window, deleteWindow_, CurrentTime); }

private:
    void Send(Window window, Atom what, long stamp)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols_;
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(what);
        event.xclient.data.l[1] = stamp;
        event.xclient.data.l[2] = long(window);
        XSendEvent(display_, window, False, NoEventMask, &event);
        XFlush(display_);
    }

    Display* display_;
    Window root_;
    Atom protocols_{}, ping_{}, deleteWindow_{};
    long stamp_ = 1000;
};

struct Started {
    pid_t pid = -1;
    Window window = 0;
};

std::optional<Started> StartProgram(Display* display, const std::string& program, const std::string& folder)
{
    Started started;
    started.pid = Spawn({program}, folder);
    if (started.pid <= 0)
        return std::nullopt;
    const auto deadline = Clock::now() + 30s;
    while (Clock::now() < deadline) {
        if (auto window = FindWindow(display, "Vocarine")) {
            started.window = *window;
            std::this_thread::sleep_for(1s);  // let it settle and paint
            return started;
        }
        std::this_thread::sleep_for(50ms);
    }
    kill(started.pid, SIGKILL);
    waitpid(started.pid, nullptr, 0);
    return std::nullopt;
}

void PlayAtSlowestTempo(Window window)
{
    const std::string id = std::to_string(window);
    Xdotool({"mousemove", "--window", id, std::to_string(TempoX), std::to_string(TempoY), "click", "1"});
    Xdotool({"key", "--window", id, "Home"});
    Xdotool({"mousemove", "--window", id, std::to_string(PlayX), std::to_string(PlayY), "click", "1"});
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM   (on an X display without a window manager, e.g. under xvfb-run -a)\n",
                     argv[0]);
        return 2;
    }
    const std::string program = std::filesystem::absolute(argv[1]);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 1;
    }
    char folderTemplate[] = "/tmp/ping_bench.XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    std::ofstream(folder + "/majortonic.txt") << "1\n10  0 1  1 1  2 1  3 1  4 1  5 1  6 1  7 1  8 1  9 1\n";
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    Pinger pinger(display);

    // Answers while a cell plays.
    auto started = StartProgram(display, program, folder);
    if (!started) {
        std::fprintf(stderr, "the program's window did not appear\n");
        return 1;
    }
    const auto idle = pinger.Ping(started->window, 5s);
    PlayAtSlowestTempo(started->window);
    const auto playStart = Clock::now();
    std::vector<double> answers;
    int unanswered = 0;
    while (Clock::now() - playStart < CellSpan - 500ms) {
        const auto asked = Clock::now();
        const auto answer = pinger.Ping(started->window, CellSpan + 5s);
        if (answer)
            answers.push_back(Ms(*answer));
        else
            ++unanswered;
        std::this_thread::sleep_until(asked + 250ms);
    }
    std::this_thread::sleep_until(playStart + CellSpan + 1s);

    std::printf("Ping answers of %s, idle: %.2f ms\n", program.c_str(), idle ? Ms(*idle) : -1.0);
    if (!answers.empty()) {
        std::vector<double> sorted = answers;
        std::sort(sorted.begin(), sorted.end());
        std::printf("While a 10-note cell plays at W = 1950 ms (%.1f s): %zu pings, answered in ms: median %.2f  "
                    "max %.2f  (first %.2f); unanswered %d\n",
                    Ms(CellSpan) / 1000, answers.size(), sorted[sorted.size() / 2], sorted.back(), answers.front(),
                    unanswered);
    }

    // Closing the window while a cell plays.
    PlayAtSlowestTempo(started->window);
    std::this_thread::sleep_for(2s);
    pinger.AskToClose(started->window);
    const auto asked = Clock::now();
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(started->pid, &status, WNOHANG)) == 0 && Clock::now() - asked < CellSpan + 10s)
        std::this_thread::sleep_for(1ms);
    if (ended == started->pid) {
        std::printf("Closed 2 s into the cell: the program ended %.1f ms after the close, %s %d\n", Ms(Clock::now() - asked),
                    WIFEXITED(status) ? "exit status" : "signal", WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    } else {
        std::printf("Closed 2 s into the cell: the program had not ended %.1f s later\n", Ms(Clock::now() - asked) / 1000);
        kill(started->pid, SIGKILL);
        waitpid(started->pid, nullptr, 0);
    }
    std::filesystem::remove_all(folder);
    XCloseDisplay(display);
    return 0;
}
