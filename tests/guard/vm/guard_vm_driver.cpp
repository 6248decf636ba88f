// Runs inside the small VM of run-guard-vm.sh, where evdev and uinput are real, and tries
// the input guard there: two uinput keyboards and a mouse, each event node also read by
// this program the way the compositor reads it, and the guard started in direct mode with
// a lease. Each scenario locks once, checks what the lock lets through, ends the lock its
// own way and checks that every device is free again. One line per scenario, then a
// summary; exits 0 only when every scenario passed.
//   guard_vm_driver GUARD_BINARY

#include <linux/input.h>
#include <linux/uinput.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
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
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void check(bool ok, const std::string& what)
{
    if (!ok)
        throw Failure(what);
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
        ioctl(m_uinput, UI_SET_EVBIT, EV_KEY);
        if (mouse) {
            ioctl(m_uinput, UI_SET_EVBIT, EV_REL);
            for (int axis : {REL_X, REL_Y})
                ioctl(m_uinput, UI_SET_RELBIT, axis);
            for (int button : {BTN_LEFT, BTN_RIGHT})
                ioctl(m_uinput, UI_SET_KEYBIT, button);
        } else {
            // Autorepeat like a real keyboard, so held chord keys repeat during the lock.
            ioctl(m_uinput, UI_SET_EVBIT, EV_REP);
            for (int key = KEY_ESC; key < KEY_MAX && key < 256; ++key)
                ioctl(m_uinput, UI_SET_KEYBIT, key);
        }
        uinput_setup setup {};
        setup.id = {BUS_USB, 0x1209, static_cast<unsigned short>(mouse ? 2 : 1), 1};
        std::snprintf(setup.name, sizeof setup.name, "%s", name.c_str());
        check(ioctl(m_uinput, UI_DEV_SETUP, &setup) == 0 && ioctl(m_uinput, UI_DEV_CREATE) == 0,
              failed("creating " + name));
        char sysName[64] = {};
        check(ioctl(m_uinput, UI_GET_SYSNAME(sizeof sysName), sysName) >= 0, failed("UI_GET_SYSNAME"));
        const std::string sysDir = std::string("/sys/class/input/") + sysName;
        if (DIR* dir = opendir(sysDir.c_str())) {
            while (const dirent* entry = readdir(dir))
                if (std::strncmp(entry->d_name, "event", 5) == 0)
                    m_node = std::string("/dev/input/") + entry->d_name;
            closedir(dir);
        }
        check(!m_node.empty(), "no event node under " + sysDir);
        m_reader = ::open(m_node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        check(m_reader >= 0, failed(m_node));
    }
    ~FakeDevice()
    {
        ::close(m_reader);
        ioctl(m_uinput, UI_DEV_DESTROY);
        ::close(m_uinput);
    }
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

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
    bool isFree() const
    {
        const bool grabbed = ioctl(m_reader, EVIOCGRAB, 1) == 0;
        if (grabbed)
            ioctl(m_reader, EVIOCGRAB, 0);
        return grabbed;
    }

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
        check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, lease) == 0, failed("socketpair"));
        check(pipe2(out, O_CLOEXEC) == 0, failed("pipe2"));
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
    Guard& operator=(const Guard&) = delete;

    const std::vector<std::string>& lines() const { return m_lines; }

    // The first next line that starts with prefix; fails when none comes in time.
    std::string waitFor(const std::string& prefix, Millis timeout)
    {
        if (auto line = next(prefix, false, timeout))
            return *line;
        throw Failure("no \"" + prefix + "\" within " + std::to_string(timeout.count()) + " ms; guard said: " + said());
    }
    // This very line, said already or within the timeout.
    bool says(const std::string& line, Millis timeout)
    {
        return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end() || next(line, true, timeout);
    }
    void expectNo(const std::string& prefix, Millis during)
    {
        if (auto line = next(prefix, false, during))
            throw Failure("unexpected \"" + *line + "\"");
    }
    void closeLease()
    {
        if (m_lease >= 0)
            ::close(m_lease);
        m_lease = -1;
    }
    void kill()
    {
        ::kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    int exitCode(Millis timeout)
    {
        const auto start = Clock::now();
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            check(msSince(start) < timeout.count(), "the guard is still running after its release");
            std::this_thread::sleep_for(10ms);
        }
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
    std::optional<std::string> next(const std::string& wanted, bool whole, Millis timeout)
    {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            for (size_t end; (end = m_buffer.find('\n')) != std::string::npos;) {
                m_lines.push_back(m_buffer.substr(0, end));
                m_buffer.erase(0, end + 1);
                if (whole ? m_lines.back() == wanted : m_lines.back().starts_with(wanted))
                    return m_lines.back();
            }
            const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
            pollfd in {m_out, POLLIN, 0};
            if (left <= 0 || poll(&in, 1, static_cast<int>(left)) <= 0)
                return std::nullopt;
            char chunk[512];
            const ssize_t got = ::read(m_out, chunk, sizeof chunk);
            if (got <= 0)
                return std::nullopt;
            m_buffer.append(chunk, static_cast<size_t>(got));
        }
    }

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
        if (reaches)
            check(got == sent, device->name() + ": the reader got " + std::to_string(got.size()) + " of "
                                   + std::to_string(sent.size()) + " events after the release");
        else
            check(got.empty(), device->name() + ": " + std::to_string(got.size()) + " events leaked while locked");
    }
}

// Alt+SysRq+h on the keyboard; true when the kernel logged a SysRq line for it.
bool sysrqAnswers(FakeDevice& keyboard)
{
    const int kmsg = ::open("/dev/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    check(kmsg >= 0, failed("/dev/kmsg"));
    lseek(kmsg, 0, SEEK_END);
    keyboard.key(KEY_LEFTALT, 1);
    keyboard.key(KEY_SYSRQ, 1);
    keyboard.tap(KEY_H);
    keyboard.key(KEY_SYSRQ, 0);
    keyboard.key(KEY_LEFTALT, 0);
    std::this_thread::sleep_for(200ms);
    bool logged = false;
    char record[2048];
    for (ssize_t got; (got = ::read(kmsg, record, sizeof record)) > 0 || (got < 0 && errno == EPIPE);)
        logged = logged || (got > 0 && std::string(record, static_cast<size_t>(got)).find("sysrq") != std::string::npos);
    ::close(kmsg);
    return logged;
}

void lockedInputGoesNowhere(Rig& rig, Guard&)
{
    expectInput(rig.devices(), false);
}

void oneCtrlNeverReleases(Rig& rig, Guard& guard)
{
    rig.keyboard.key(KEY_RIGHTCTRL, 1);
    guard.expectNo("released", 1500ms);
    rig.keyboard.key(KEY_RIGHTCTRL, 0);
}

void sysrqDoesNothing(Rig& rig, Guard&)
{
    check(!sysrqAnswers(rig.keyboard), "Alt+SysRq+h reached the kernel while locked");
}

void pluggedDeviceIsGrabbed(Rig& rig, Guard& guard)
{
    rig.plugged = std::make_unique<FakeDevice>("orbinwash vm late keyboard", false);
    check(guard.says("grabbed " + rig.plugged->node(), 3s), "the plugged device was not grabbed");
    expectInput({rig.plugged.get()}, false);
}

enum class End { CtrlChord, SuperChord, CloseLease, Kill, Timeout };

struct Scenario {
    const char* name;
    void (*whileLocked)(Rig&, Guard&);
    End end;
    const char* released; // the guard's last line; none when it is killed
    unsigned timeoutSeconds = 900;
    unsigned short heldAtStart = 0; // down when the guard starts, let go once it has locked
};

// The chord both hands make: the left key on one device, the right one on another or the same.
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
    check(std::any_of(guard.lines().begin(), guard.lines().end(),
                      [](const std::string& line) { return line.starts_with("progress "); }),
          "no progress while the chord was held");
}

void run(Rig& rig, const Scenario& scenario)
{
    if (scenario.heldAtStart)
        rig.keyboard.key(scenario.heldAtStart, 1);
    rig.keyboard.received();
    const auto started = Clock::now();
    Guard guard(rig.guardPath, scenario.timeoutSeconds);
    const std::string locked = guard.waitFor("locked ", 5s);
    if (scenario.heldAtStart) {
        std::this_thread::sleep_for(humanHold());
        rig.keyboard.key(scenario.heldAtStart, 0);
    }
    const auto grabbedAtStart = std::count_if(guard.lines().begin(), guard.lines().end(),
                                              [](const std::string& line) { return line.starts_with("grabbed "); });
    check(locked == "locked " + std::to_string(grabbedAtStart), "\"" + locked + "\" after "
          + std::to_string(grabbedAtStart) + " grabs");
    // A device with a key down is grabbed once the key is up, after the lock has started.
    for (FakeDevice* device : rig.devices())
        check(guard.says("grabbed " + device->node(), 3s), device->name() + " was not grabbed; guard said: " + guard.said());
    if (scenario.heldAtStart) {
        const auto got = rig.keyboard.received();
        check(std::find(got.begin(), got.end(), Stroke {EV_KEY, scenario.heldAtStart, 0}) != got.end(),
              "the key held at the start never came up for the reader");
    }
    if (scenario.whileLocked)
        scenario.whileLocked(rig, guard);

    const auto ending = Clock::now();
    switch (scenario.end) {
    case End::CtrlChord:
        holdChord(rig, guard, rig.keypad, KEY_LEFTCTRL, KEY_RIGHTCTRL);
        break;
    case End::SuperChord:
        holdChord(rig, guard, rig.keyboard, KEY_LEFTMETA, KEY_RIGHTMETA);
        break;
    case End::CloseLease:
        guard.closeLease();
        guard.waitFor("released", 2s);
        check(msSince(ending) < 500, "released " + std::to_string(msSince(ending)) + " ms after the lease closed");
        break;
    case End::Kill:
        guard.kill();
        break;
    case End::Timeout:
        guard.waitFor("released", 6s);
        check(msSince(started) >= 1950, "timed out " + std::to_string(msSince(started)) + " ms after the start");
        break;
    }
    if (scenario.released) {
        check(guard.lines().back() == std::string("released ") + scenario.released,
              "expected \"released " + std::string(scenario.released) + "\"; guard said: " + guard.said());
        check(guard.exitCode(2s) == 0, "the guard did not exit 0 after its release");
    }
    for (FakeDevice* device : rig.devices())
        check(device->isFree(), device->name() + " is still grabbed after the release");
    expectInput(rig.devices(), true);
    check(sysrqAnswers(rig.keyboard), "Alt+SysRq+h did nothing after the release");
}

const Scenario scenarios[] = {
    {"locked keys and pointer reach no reader; both Ctrl release", lockedInputGoesNowhere, End::CtrlChord, "chord"},
    {"one Ctrl held long never releases; both Super do", oneCtrlNeverReleases, End::SuperChord, "chord"},
    {"SysRq does nothing while locked; closing the lease releases", sysrqDoesNothing, End::CloseLease, "client-gone"},
    {"a device plugged in while locked is grabbed; SIGKILL frees all", pluggedDeviceIsGrabbed, End::Kill, nullptr},
    {"a key held at the start comes up for the reader; timeout releases", nullptr, End::Timeout, "timeout", 2, KEY_A},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s GUARD_BINARY\n", argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::unique_ptr<Rig> rig;
    try {
        rig = std::make_unique<Rig>();
    } catch (const Failure& failure) {
        std::printf("FAIL setting up the devices: %s\n", failure.what());
        return 1;
    }
    rig->guardPath = argv[1];
    size_t passed = 0;
    for (const Scenario& scenario : scenarios) {
        const auto start = Clock::now();
        try {
            run(*rig, scenario);
            std::printf("ok   %s (%lld ms)\n", scenario.name, msSince(start));
            ++passed;
        } catch (const Failure& failure) {
            std::printf("FAIL %s: %s\n", scenario.name, failure.what());
        }
        rig->plugged.reset();
    }
    std::printf("guard-vm: %zu of %zu scenarios passed\n", passed, std::size(scenarios));
    return passed == std::size(scenarios) ? 0 : 1;
}
