// Runs inside the VM of run-guard-vm.sh, where evdev and uinput are real: two uinput keyboards
// and a mouse, each node also read as the compositor reads it, and the guard in direct mode with
// a lease. Each scenario locks once, tries what gets through, ends the lock its own way and checks
// that every device is free again. Exits 0 only when all passed.   guard_vm_driver GUARD_BINARY

#include <linux/input.h>
#include <linux/uinput.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <random>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

void check(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error(what);
}

std::string failed(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<Millis>(Clock::now() - start).count();
}

// A person's key stroke is down 50 to 400 ms; the same sequence every run.
Millis humanHold()
{
    static std::minstd_rand random(7);
    return Millis(50 + random() % 351);
}

struct Stroke {
    unsigned short type, code;
    int value;
    bool operator==(const Stroke&) const = default;
};

// One uinput device and the compositor's reader of its event node.
class FakeDevice {
public:
    FakeDevice(const std::string& name, bool mouse) : m_name(name), m_mouse(mouse)
    {
        m_uinput = ::open("/dev/uinput", O_WRONLY | O_CLOEXEC);
        check(m_uinput >= 0, failed("/dev/uinput"));
        // A keyboard autorepeats like a real one, so held chord keys repeat during the lock.
        ioctl(m_uinput, UI_SET_EVBIT, EV_KEY);
        ioctl(m_uinput, UI_SET_EVBIT, mouse ? EV_REL : EV_REP);
        for (int axis : {REL_X, REL_Y})
            ioctl(m_uinput, UI_SET_RELBIT, axis); // the kernel clears them without EV_REL
        for (int key = mouse ? BTN_LEFT : KEY_ESC; key < (mouse ? BTN_MIDDLE : 256); ++key)
            ioctl(m_uinput, UI_SET_KEYBIT, key);
        uinput_setup setup {};
        setup.id = {BUS_USB, 0x1209, static_cast<unsigned short>(mouse ? 2 : 1), 1};
        std::snprintf(setup.name, sizeof setup.name, "%s", name.c_str());
        check(ioctl(m_uinput, UI_DEV_SETUP, &setup) == 0 && ioctl(m_uinput, UI_DEV_CREATE) == 0,
              failed("creating " + name));
        char sysName[64] = {};
        check(ioctl(m_uinput, UI_GET_SYSNAME(sizeof sysName), sysName) >= 0, failed("UI_GET_SYSNAME"));
        const std::string sysDir = std::string("/sys/class/input/") + sysName;
        for (const auto& entry : std::filesystem::directory_iterator(sysDir))
            if (const std::string file = entry.path().filename(); file.starts_with("event"))
                m_node = "/dev/input/" + file;
        m_reader = ::open(m_node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        check(m_reader >= 0, failed("the event node of " + name));
    }
    ~FakeDevice()
    {
        ::close(m_reader);
        ioctl(m_uinput, UI_DEV_DESTROY);
        ::close(m_uinput);
    }
    FakeDevice(const FakeDevice&) = delete;

    const std::string& name() const { return m_name; }
    const std::string& node() const { return m_node; }

    void send(unsigned short type, unsigned short code, int value)
    {
        const input_event events[] = {{{}, type, code, value}, {{}, EV_SYN, SYN_REPORT, 0}};
        check(::write(m_uinput, events, sizeof events) == sizeof events, failed("writing to " + m_name));
    }
    void key(unsigned short code, int value) { send(EV_KEY, code, value); }
    void tap(unsigned short code)
    {
        key(code, 1);
        std::this_thread::sleep_for(humanHold());
        key(code, 0);
        std::this_thread::sleep_for(30ms);
    }

    // Some typing or pointing, as a person would; returns what a reader should see of it.
    std::vector<Stroke> poke()
    {
        if (m_mouse) {
            send(EV_REL, REL_X, 7);
            send(EV_REL, REL_Y, -4);
            tap(BTN_LEFT);
            return {{EV_REL, REL_X, 7}, {EV_REL, REL_Y, -4}, {EV_KEY, BTN_LEFT, 1}, {EV_KEY, BTN_LEFT, 0}};
        }
        std::vector<Stroke> sent;
        for (unsigned short code : {KEY_W, KEY_I, KEY_P, KEY_ENTER}) {
            tap(code);
            sent.insert(sent.end(), {{EV_KEY, code, 1}, {EV_KEY, code, 0}});
        }
        return sent;
    }

    // What reached the reader since the last call, without reports and autorepeats.
    std::vector<Stroke> received()
    {
        std::vector<Stroke> got;
        input_event event;
        while (::read(m_reader, &event, sizeof event) == sizeof event)
            if (event.type != EV_SYN && event.type != EV_MSC && !(event.type == EV_KEY && event.value == 2))
                got.push_back({event.type, event.code, event.value});
        return got;
    }

    // Nobody holds the device: our own grab succeeds (and is let go at once).
    bool isFree() const { return ioctl(m_reader, EVIOCGRAB, 1) == 0 && ioctl(m_reader, EVIOCGRAB, 0) == 0; }

private:
    std::string m_name, m_node;
    bool m_mouse;
    int m_uinput = -1, m_reader = -1;
};

// The guard in direct mode: its stdout read line by line, the other end of its lease kept.
class Guard {
public:
    Guard(const std::string& path, unsigned timeoutSeconds)
    {
        int lease[2], out[2];
        check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, lease) == 0 && pipe2(out, O_CLOEXEC) == 0,
              failed("socketpair, pipe2"));
        m_pid = fork();
        check(m_pid >= 0, failed("fork"));
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            fcntl(lease[1], F_SETFD, 0);
            const std::string leaseArg = "--lease-fd=" + std::to_string(lease[1]);
            const std::string timeoutArg = "--timeout-seconds=" + std::to_string(timeoutSeconds);
            execl(path.c_str(), path.c_str(), "--direct", leaseArg.c_str(), "--hold-seconds=1",
                  timeoutArg.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(out[1]);
        ::close(lease[1]);
        m_out = out[0];
        m_lease = lease[0];
    }
    ~Guard()
    {
        if (m_pid > 0)
            kill();
        ::close(m_out);
        closeLease();
    }
    Guard(const Guard&) = delete;

    const std::vector<std::string>& lines() const { return m_lines; }
    const Clock::time_point started = Clock::now();

    // The first line, said already or within the timeout, that is `word` or starts with "word ";
    // "" when none comes.
    std::string heard(const std::string& word, Millis timeout)
    {
        const auto deadline = Clock::now() + timeout;
        for (size_t line = 0;;) {
            for (; line < m_lines.size(); ++line)
                if (m_lines[line] == word || m_lines[line].starts_with(word + ' '))
                    return m_lines[line];
            for (size_t end; (end = m_buffer.find('\n')) != std::string::npos; m_buffer.erase(0, end + 1))
                m_lines.push_back(m_buffer.substr(0, end));
            if (line < m_lines.size())
                continue;
            const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
            pollfd in {m_out, POLLIN, 0};
            char chunk[512];
            ssize_t got = 0;
            if (left <= 0 || poll(&in, 1, int(left)) <= 0 || (got = ::read(m_out, chunk, sizeof chunk)) <= 0)
                return "";
            m_buffer.append(chunk, static_cast<size_t>(got));
        }
    }
    std::string waitFor(const std::string& word, Millis timeout)
    {
        const std::string line = heard(word, timeout);
        check(!line.empty(), "no \"" + word + "\" within " + std::to_string(timeout.count())
                                 + " ms; guard said: " + said());
        return line;
    }
    void closeLease() { ::close(std::exchange(m_lease, -1)); }
    pid_t pid() const { return m_pid; }
    void kill()
    {
        ::kill(m_pid, SIGKILL);
        waitpid(std::exchange(m_pid, -1), nullptr, 0);
    }
    int exitCode(Millis timeout)
    {
        int status = 0;
        const auto start = Clock::now();
        for (; waitpid(m_pid, &status, WNOHANG) == 0; std::this_thread::sleep_for(10ms))
            check(msSince(start) < timeout.count(), "the guard is still running after its release");
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string said() const
    {
        std::string all;
        for (const auto& line : m_lines)
            all += (all.empty() ? "" : " | ") + line;
        return all.empty() ? "nothing" : all;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1, m_lease = -1;
    std::string m_buffer;
    std::vector<std::string> m_lines;
};

struct Rig {
    std::string guardPath;
    FakeDevice keyboard {"orbinwash vm keyboard", false};
    FakeDevice keypad {"orbinwash vm second keyboard", false};
    FakeDevice mouse {"orbinwash vm mouse", true};
    std::unique_ptr<FakeDevice> plugged; // plugged in during a lock

    std::vector<FakeDevice*> devices()
    {
        std::vector<FakeDevice*> all {&keyboard, &keypad, &mouse};
        if (plugged)
            all.push_back(plugged.get());
        return all;
    }
};

void expectInput(const std::vector<FakeDevice*>& devices, bool reaches)
{
    for (FakeDevice* device : devices) {
        device->received();
        const auto sent = device->poke();
        std::this_thread::sleep_for(100ms);
        const auto got = device->received();
        const std::string counts = std::to_string(got.size()) + " of " + std::to_string(sent.size());
        check(reaches ? got == sent : got.empty(), device->name() + ": the reader got " + counts
              + (reaches ? " events after the release" : " events while locked"));
    }
}

// What the guard costs while it holds the devices and nothing happens: CPU time over every
// thread, and resident memory, printed for the README's benchmark notes.
void reportIdle(const Guard& guard, Millis window)
{
    const std::string proc = "/proc/" + std::to_string(guard.pid());
    const auto cpuNs = [&proc] {
        long long total = 0;
        for (const auto& task : std::filesystem::directory_iterator(proc + "/task")) {
            long long ns = 0;
            std::ifstream(task.path() / "schedstat") >> ns;
            total += ns;
        }
        return total;
    };
    const long long before = cpuNs();
    std::this_thread::sleep_for(window);
    const double percent = 100.0 * double(cpuNs() - before) / double(std::chrono::nanoseconds(window).count());
    std::ifstream status(proc + "/status");
    std::string line;
    while (std::getline(status, line) && !line.starts_with("VmRSS:")) {
    }
    std::printf("guard-vm: idle while locked, %.4f %% of a core over %lld s; %s\n", percent,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(window).count()),
                line.c_str());
}

// Alt+SysRq+h on the keyboard; true when the kernel logged a SysRq line for it.
// Whether the kernel logs the SysRq help within `wait`: a loaded, emulated machine can be slow.
bool sysrqAnswers(FakeDevice& keyboard, Millis wait)
{
    const int kmsg = ::open("/dev/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    check(kmsg >= 0, failed("/dev/kmsg"));
    lseek(kmsg, 0, SEEK_END);
    keyboard.key(KEY_LEFTALT, 1);
    keyboard.key(KEY_SYSRQ, 1);
    keyboard.tap(KEY_H);
    keyboard.key(KEY_SYSRQ, 0);
    keyboard.key(KEY_LEFTALT, 0);
    bool logged = false;
    char record[2048];
    for (const auto end = Clock::now() + wait; !logged && Clock::now() < end; std::this_thread::sleep_for(20ms)) {
        for (ssize_t got; (got = ::read(kmsg, record, sizeof record)) > 0 || (got < 0 && errno == EPIPE);)
            logged = logged || (got > 0 && std::string(record, static_cast<size_t>(got)).find("sysrq") != std::string::npos);
    }
    ::close(kmsg);
    return logged;
}

// The chord both hands make: the left key on the keyboard, the right one on `right`.
void holdChord(Rig& rig, Guard& guard, FakeDevice& right, unsigned short leftKey, unsigned short rightKey)
{
    rig.keyboard.key(leftKey, 1);
    std::this_thread::sleep_for(80ms);
    right.key(rightKey, 1);
    const auto start = Clock::now();
    guard.waitFor("released", 4s);
    const long long held = msSince(start);
    right.key(rightKey, 0);
    rig.keyboard.key(leftKey, 0);
    check(held >= 950, "released after " + std::to_string(held) + " ms of a 1 s hold");
    check(!guard.heard("progress", 0ms).empty(), "no progress while the chord was held");
}

struct Scenario {
    const char* name;
    void (*act)(Rig&, Guard&); // what is tried while locked, then how the lock is ended
    const char* released;      // the guard's last line; none when it is killed
    unsigned timeoutSeconds = 900;
    unsigned short heldAtStart = 0; // down when the guard starts, let go once it has locked
};

void run(Rig& rig, const Scenario& scenario)
{
    if (scenario.heldAtStart)
        rig.keyboard.key(scenario.heldAtStart, 1);
    rig.keyboard.received();
    Guard guard(rig.guardPath, scenario.timeoutSeconds);
    const std::string locked = guard.waitFor("locked", 5s);
    if (scenario.heldAtStart) {
        std::this_thread::sleep_for(humanHold());
        rig.keyboard.key(scenario.heldAtStart, 0);
    }
    const auto grabbedAtStart = std::count_if(guard.lines().begin(), guard.lines().end(),
                                              [](const std::string& line) { return line.starts_with("grabbed "); });
    check(locked == "locked " + std::to_string(grabbedAtStart),
          locked + " after " + std::to_string(grabbedAtStart) + " grabs");
    // A device with a key down is grabbed once the key is up, after the lock has started.
    for (FakeDevice* device : rig.devices())
        guard.waitFor("grabbed " + device->node(), 3s);
    const auto got = rig.keyboard.received();
    const Stroke up {EV_KEY, scenario.heldAtStart, 0};
    check(!scenario.heldAtStart || std::find(got.begin(), got.end(), up) != got.end(),
          "the key held at the start never came up for the reader");
    scenario.act(rig, guard);
    if (scenario.released) {
        check(guard.lines().back() == std::string("released ") + scenario.released,
              "expected \"released " + std::string(scenario.released) + "\"; guard said: " + guard.said());
        check(guard.exitCode(2s) == 0, "the guard did not exit 0 after its release");
    }
    for (FakeDevice* device : rig.devices())
        check(device->isFree(), device->name() + " is still grabbed after the release");
    expectInput(rig.devices(), true);
    check(sysrqAnswers(rig.keyboard, 3s), "Alt+SysRq+h did nothing after the release");
}

const Scenario scenarios[] = {
    {"locked keys and pointer reach no reader; both Ctrl release", [](Rig& rig, Guard& guard) {
         reportIdle(guard, 10s);
         expectInput(rig.devices(), false);
         holdChord(rig, guard, rig.keypad, KEY_LEFTCTRL, KEY_RIGHTCTRL);
     }, "chord"},
    {"one Ctrl held long never releases; both Super do", [](Rig& rig, Guard& guard) {
         rig.keyboard.key(KEY_RIGHTCTRL, 1);
         check(guard.heard("released", 1500ms).empty(), "released while one Ctrl was held");
         rig.keyboard.key(KEY_RIGHTCTRL, 0);
         holdChord(rig, guard, rig.keyboard, KEY_LEFTMETA, KEY_RIGHTMETA);
     }, "chord"},
    {"SysRq does nothing while locked; closing the lease releases", [](Rig& rig, Guard& guard) {
         check(!sysrqAnswers(rig.keyboard, 500ms), "Alt+SysRq+h reached the kernel while locked");
         const auto closed = Clock::now();
         guard.closeLease();
         guard.waitFor("released", 2s);
         const long long took = msSince(closed);
         check(took < 1000, "released " + std::to_string(took) + " ms after the lease closed");
     }, "client-gone"},
    {"a device plugged in while locked is grabbed; SIGKILL frees all", [](Rig& rig, Guard& guard) {
         rig.plugged = std::make_unique<FakeDevice>("orbinwash vm late keyboard", false);
         guard.waitFor("grabbed " + rig.plugged->node(), 3s);
         expectInput({rig.plugged.get()}, false);
         guard.kill();
     }, nullptr},
    {"a key held at the start comes up for the reader; timeout releases", [](Rig&, Guard& guard) {
         guard.waitFor("released", 6s);
         const long long took = msSince(guard.started);
         check(took >= 1950, "timed out " + std::to_string(took) + " ms after the start");
     }, "timeout", 2, KEY_A},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s GUARD_BINARY\n", argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    size_t passed = 0;
    try {
        Rig rig;
        rig.guardPath = argv[1];
        for (const Scenario& scenario : scenarios) {
            const auto start = Clock::now();
            try {
                run(rig, scenario);
                std::printf("ok   %s (%lld ms)\n", scenario.name, msSince(start));
                ++passed;
            } catch (const std::exception& failure) {
                std::printf("FAIL %s: %s\n", scenario.name, failure.what());
            }
            rig.plugged.reset();
        }
    } catch (const std::exception& failure) {
        std::printf("FAIL setting up the devices: %s\n", failure.what());
    }
    std::printf("guard-vm: %zu of %zu scenarios passed\n", passed, std::size(scenarios));
    return passed == std::size(scenarios) ? 0 : 1;
}
