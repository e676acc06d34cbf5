// window_probe: watches the program's window from outside, as a second client
// of the same X server (normally a private Xvfb without a window manager).
//
//   window_probe start TIMEOUT_MS PROGRAM [ARGS...]
//       Starts PROGRAM and prints, in milliseconds from the moment it was
//       started, when its first top-level window was mapped and when that
//       window first showed painted contents; then ends PROGRAM (SIGTERM).
//       Output: "mapped_ms=<t> painted_ms=<t>"
//
//   window_probe ping SECONDS TITLE_PREFIX
//       Finds the mapped top-level window whose title starts with
//       TITLE_PREFIX and sends it _NET_WM_PING, the message window managers
//       use to tell a hung window, one after the other with 20 ms between
//       them, for SECONDS. The answer comes from the program's event loop, so
//       its delay is how long a click or a key would wait.
//       Output: "pings=<n> unanswered=<n> median_ms=<t> p99_ms=<t> max_ms=<t>"
//
//   window_probe lag SECONDS TITLE_PREFIX LINK RATE
//       Plays the device: makes a pseudo-terminal, links LINK to it (the
//       program's ports/com1), waits for the window whose title starts with
//       TITLE_PREFIX, then sends RATE value lines a second (V01 to V08 in
//       turn, V01 a new value each time) for SECONDS. After each V01 line
//       it watches the window's first panel (its top-left quarter) and takes
//       the time until the panel changes on screen: how far the window is
//       behind the device. After the first change, one that has not come
//       when the next V01 line is sent counts as missed.
//       Output: "lines=<n> shown=<n> missed=<n> median_ms=<t> p99_ms=<t> max_ms=<t>"
//
// Exit status 0 on success, 1 on failure (with a message on stderr).

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Windows come and go while we look at them: their errors are not ours.
int ignoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}

int fail(const char* what)
{
    std::fprintf(stderr, "window_probe: %s\n", what);
    return 1;
}

// Waits up to `ms` for something to read on the X connection.
bool waitForX(Display* d, int ms)
{
    if (XPending(d) > 0)
        return true;
    pollfd p{ConnectionNumber(d), POLLIN, 0};
    const int r = ::poll(&p, 1, ms);
    return r > 0 && XPending(d) > 0;
}

// True when the window shows more than one colour: it has been painted. A
// freshly mapped window shows one colour (its background, or what lay
// beneath it on an empty screen). Four full-width rows are looked at.
bool showsContents(Display* d, Window w)
{
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable || a.width < 2 || a.height < 2)
        return false;
    bool first = true;
    unsigned long seen = 0;
    for (const int y : {a.height / 4, a.height / 2, 3 * a.height / 4, a.height - 4}) {
        XImage* img = XGetImage(d, w, 0, std::max(0, y), static_cast<unsigned>(a.width), 1,
                                AllPlanes, ZPixmap);
        if (!img)
            return false;
        for (int x = 0; x < a.width; ++x) {
            const unsigned long p = XGetPixel(img, x, 0);
            if (first) {
                seen = p;
                first = false;
            } else if (p != seen) {
                XDestroyImage(img);
                return true;
            }
        }
        XDestroyImage(img);
    }
    return false;
}

int startupMode(int timeoutMs, char** programArgv)
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return fail("cannot open the display (DISPLAY)");
    XSetErrorHandler(ignoreXErrors);
    const Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, False);

    const Clock::time_point t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        return fail("fork failed");
    if (pid == 0) {
        ::close(ConnectionNumber(d));
        ::execv(programArgv[0], programArgv);
        std::fprintf(stderr, "window_probe: cannot start %s: %s\n", programArgv[0],
                     std::strerror(errno));
        ::_exit(127);
    }

    auto endChild = [&] {
        ::kill(pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return;
            ::usleep(10000);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    };
    auto elapsedMs = [&] { return msBetween(t0, Clock::now()); };

    Window win = 0;
    double mappedMs = 0;
    while (!win) {
        if (elapsedMs() > timeoutMs) {
            endChild();
            return fail("no window was mapped in time");
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return fail("the program ended before it showed a window");
        if (!waitForX(d, 5))
            continue;
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == MapNotify && e.xmap.event == root && !e.xmap.override_redirect) {
            win = e.xmap.window;
            mappedMs = elapsedMs();
        }
    }

    double paintedMs = -1;
    while (paintedMs < 0) {
        if (showsContents(d, win)) {
            paintedMs = elapsedMs();
            break;
        }
        if (elapsedMs() > timeoutMs) {
            endChild();
            return fail("the window was mapped but never painted in time");
        }
        while (XPending(d) > 0) {
            XEvent e;
            XNextEvent(d, &e);
        }
        ::usleep(1000);
    }
    endChild();
    XCloseDisplay(d);
    std::printf("mapped_ms=%.1f painted_ms=%.1f\n", mappedMs, paintedMs);
    return 0;
}

std::string windowTitle(Display* d, Window w)
{
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(d, w, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

Window findWindow(Display* d, const std::string& prefix)
{
    Window rootRet = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    Window found = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &rootRet, &parent, &children, &n))
        return 0;
    for (unsigned int i = 0; i < n && !found; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
            windowTitle(d, children[i]).rfind(prefix, 0) == 0)
            found = children[i];
    }
    if (children)
        XFree(children);
    return found;
}

int pingMode(double seconds, const std::string& prefix)
{
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return fail("cannot open the display (DISPLAY)");
    XSetErrorHandler(ignoreXErrors);
    const Window root = DefaultRootWindow(d);
    const Window win = findWindow(d, prefix);
    if (!win)
        return fail("no mapped window with that title");
    // The answer is sent to the root window, for its structure (Qt) or
    // substructure listeners (the convention of window managers).
    XSelectInput(d, root, StructureNotifyMask | SubstructureNotifyMask);
    const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(d, "_NET_WM_PING", False);

    std::vector<double> delays;
    int unanswered = 0;
    long serial = 1;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds));
    while (Clock::now() < end) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = win;
        e.xclient.message_type = protocols;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(ping);
        e.xclient.data.l[1] = serial; // stands for the timestamp; echoed back
        e.xclient.data.l[2] = static_cast<long>(win);
        const Clock::time_point sent = Clock::now();
        XSendEvent(d, win, False, NoEventMask, &e);
        XFlush(d);
        bool answered = false;
        while (!answered && msBetween(sent, Clock::now()) < 5000) {
            if (!waitForX(d, 50))
                continue;
            XEvent r;
            XNextEvent(d, &r);
            if (r.type == ClientMessage && r.xclient.message_type == protocols &&
                static_cast<Atom>(r.xclient.data.l[0]) == ping && r.xclient.data.l[1] == serial) {
                delays.push_back(msBetween(sent, Clock::now()));
                answered = true;
            }
        }
        if (!answered)
            ++unanswered;
        ++serial;
        ::usleep(20000);
    }
    XCloseDisplay(d);
    if (delays.empty()) {
        std::printf("pings=%ld unanswered=%d median_ms=- p99_ms=- max_ms=-\n", serial - 1,
                    unanswered);
        return 0;
    }
    std::sort(delays.begin(), delays.end());
    auto at = [&](double q) {
        const std::size_t i =
            static_cast<std::size_t>(q * static_cast<double>(delays.size() - 1) + 0.5);
        return delays[std::min(i, delays.size() - 1)];
    };
    std::printf("pings=%ld unanswered=%d median_ms=%.2f p99_ms=%.2f max_ms=%.2f\n", serial - 1,
                unanswered, at(0.5), at(0.99), delays.back());
    return 0;
}

// A hash of what `w` shows in its top-left quarter; 0 when it cannot be read.
std::size_t firstPanelHash(Display* d, Window w, int width, int height)
{
    XImage* img = XGetImage(d, w, 0, 0, static_cast<unsigned>(width / 4),
                            static_cast<unsigned>(height / 2), AllPlanes, ZPixmap);
    if (!img)
        return 0;
    const std::size_t h = std::hash<std::string_view>{}(
        std::string_view(img->data, static_cast<std::size_t>(img->bytes_per_line) *
                                        static_cast<std::size_t>(img->height)));
    XDestroyImage(img);
    return h;
}

// The master side of a new pseudo-terminal, its slave held open and reached
// through `link`; -1 on failure.
int openDevice(const std::string& link, int& slave)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return -1;
    const char* name = ::ptsname(master);
    if (!name)
        return -1;
    slave = ::open(name, O_RDWR | O_NOCTTY); // no hang-up while the program reopens
    termios t{};
    if (slave < 0 || ::tcgetattr(slave, &t) != 0)
        return -1;
    ::cfmakeraw(&t); // lines sent before the program opens the port stay whole
    ::tcsetattr(slave, TCSANOW, &t);
    ::unlink(link.c_str());
    if (::symlink(name, link.c_str()) != 0)
        return -1;
    return master;
}

int lagMode(double seconds, const std::string& prefix, const std::string& link, int rate)
{
    int slave = -1;
    const int master = openDevice(link, slave);
    if (master < 0 || rate <= 0)
        return fail("cannot make the pseudo-terminal or its link");
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return fail("cannot open the display (DISPLAY)");
    XSetErrorHandler(ignoreXErrors);
    Window win = 0;
    for (int i = 0; i < 2000 && !win; ++i) {
        ::usleep(10000);
        win = findWindow(d, prefix);
    }
    XWindowAttributes a;
    if (!win || !XGetWindowAttributes(d, win, &a))
        return fail("no mapped window with that title");
    ::usleep(500000); // the window's first paint

    const auto period = std::chrono::microseconds(1000000 / rate);
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds));
    std::vector<double> delays;
    int lines = 0, missed = 0;
    bool waiting = false;
    Clock::time_point sentV1{}, next = Clock::now();
    std::size_t shown = firstPanelHash(d, win, a.width, a.height);
    while (Clock::now() < end) {
        if (Clock::now() >= next) {
            const int channel = lines % 8 + 1;
            char text[32];
            const int n = std::snprintf(text, sizeof text, "V0%d=%d.%d\r\n", channel,
                                        lines / 8 % 100, lines % 10);
            if (channel == 1) {
                // Until the first change the program may not have opened the port.
                missed += waiting && !delays.empty() ? 1 : 0;
                waiting = true;
                sentV1 = Clock::now();
            }
            if (::write(master, text, static_cast<std::size_t>(n)) != n)
                return fail("cannot write to the pseudo-terminal");
            ++lines;
            next += period;
        }
        const std::size_t now = firstPanelHash(d, win, a.width, a.height);
        if (now != shown && now != 0) {
            shown = now;
            if (waiting)
                delays.push_back(msBetween(sentV1, Clock::now()));
            waiting = false;
        }
        ::usleep(1000);
    }
    XCloseDisplay(d);
    ::unlink(link.c_str());
    ::close(master);
    ::close(slave);
    std::sort(delays.begin(), delays.end());
    auto at = [&](double q) -> double {
        if (delays.empty())
            return NAN;
        const auto i = static_cast<std::size_t>(q * static_cast<double>(delays.size() - 1) + 0.5);
        return delays[std::min(i, delays.size() - 1)];
    };
    std::printf("lines=%d shown=%zu missed=%d median_ms=%.2f p99_ms=%.2f max_ms=%.2f\n", lines,
                delays.size(), missed, at(0.5), at(0.99), delays.empty() ? NAN : delays.back());
    return 0;
}

void usage()
{
    std::fputs("usage: window_probe start TIMEOUT_MS PROGRAM [ARGS...]\n"
               "       window_probe ping SECONDS TITLE_PREFIX\n"
               "       window_probe lag SECONDS TITLE_PREFIX LINK RATE\n",
               stderr);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc >= 4 && std::strcmp(argv[1], "start") == 0)
        return startupMode(std::atoi(argv[2]), argv + 3);
    if (argc == 4 && std::strcmp(argv[1], "ping") == 0)
        return pingMode(std::atof(argv[2]), argv[3]);
    if (argc == 6 && std::strcmp(argv[1], "lag") == 0)
        return lagMode(std::atof(argv[2]), argv[3], argv[4], std::atoi(argv[5]));
    usage();
    return 2;
}
