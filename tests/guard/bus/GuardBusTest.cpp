// The real guard binary on a private system bus, beside python-dbusmock's polkit and
// logind, over an empty device folder: who may lock, how a lock ends, what the bus sees.
#include <systemd/sd-bus.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr const char* kGuard = "com.orbinlabs.OrbinWash.InputGuard";
constexpr const char* kPath = "/com/orbinlabs/OrbinWash/InputGuard";
constexpr const char* kInterface = "com.orbinlabs.OrbinWash.InputGuard1";
constexpr const char* kNotAuthorized = "com.orbinlabs.OrbinWash.InputGuard1.Error.NotAuthorized";
constexpr const char* kNotActive = "com.orbinlabs.OrbinWash.InputGuard1.Error.SessionNotActive";
constexpr const char* kBusy = "com.orbinlabs.OrbinWash.InputGuard1.Error.Busy";
constexpr const char* kInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kSession = "/org/freedesktop/login1/session/c1";
constexpr const char* kPolkit = "org.freedesktop.PolicyKit1";
constexpr const char* kPolkitPath = "/org/freedesktop/PolicyKit1/Authority";
constexpr const char* kMock = "org.freedesktop.DBus.Mock";

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

bool hungUp(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1 && (p.revents & POLLHUP);
}

// A child process, stopped with SIGTERM when dropped.
class Child {
public:
    explicit Child(std::vector<std::string> args, int stdoutFd = -1)
    {
        m_pid = fork();
        if (m_pid == 0) {
            if (stdoutFd >= 0)
                dup2(stdoutFd, STDOUT_FILENO);
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Child() { stop(); }
    // The exit status once the process has ended by itself within the limit, else -1.
    int exitWithin(std::chrono::milliseconds limit)
    {
        if (m_pid > 0 && eventually([&] { return waitpid(m_pid, &m_status, WNOHANG) == m_pid; }, limit))
            m_pid = -1;
        return m_pid < 0 && WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    }
    // The exit status after SIGTERM; -1 when it took SIGKILL to end it.
    int stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            if (exitWithin(3s) < 0 && m_pid > 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &m_status, 0);
                m_pid = -1;
            }
        }
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_status = 0;
};

// A client connection to the private system bus that records the guard's signals.
class Client {
public:
    Client()
    {
        sd_bus_open_system(&m_bus);
        sd_bus_match_signal(m_bus, nullptr, nullptr, kPath, kInterface, nullptr, &onSignal, this);
    }
    ~Client() { sd_bus_flush_close_unref(m_bus); }
    sd_bus* bus() const { return m_bus; }
    void close() { m_bus = sd_bus_flush_close_unref(m_bus); }

    // Error name, or "" with *lease set; options are one key with a value of type u or i.
    std::string lock(int* lease, const char* key = "hold-seconds", char type = 'u', uint32_t value = 3)
    {
        sd_bus_message* call = nullptr;
        sd_bus_message_new_method_call(m_bus, &call, kGuard, kPath, kInterface, "Lock");
        const char signature[] = {type, '\0'};
        sd_bus_message_append(call, "a{sv}", 1, key, signature, value);
        sd_bus_message* reply = nullptr;
        const std::string error = call_(call, &reply);
        int fd = -1;
        if (error.empty() && sd_bus_message_read(reply, "h", &fd) >= 0)
            *lease = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        sd_bus_message_unref(reply);
        return error;
    }
    std::string call(const char* member, const char* interface = kInterface)
    {
        sd_bus_message* call = nullptr;
        sd_bus_message_new_method_call(m_bus, &call, kGuard, kPath, interface, member);
        sd_bus_message* reply = nullptr;
        std::string error = call_(call, &reply);
        const char* text = nullptr;
        if (error.empty() && sd_bus_message_read(reply, "s", &text) > 0)
            error = text;
        sd_bus_message_unref(reply);
        return error;
    }
    // "yes" or "no <why>", or the error's name.
    std::string canLock()
    {
        sd_bus_message* call = nullptr;
        sd_bus_message_new_method_call(m_bus, &call, kGuard, kPath, kInterface, "CanLock");
        sd_bus_message* reply = nullptr;
        std::string answer = call_(call, &reply);
        int allowed = 0;
        const char* why = nullptr;
        if (answer.empty() && sd_bus_message_read(reply, "bs", &allowed, &why) >= 0)
            answer = allowed ? std::string("yes") + why : std::string("no ") + why;
        sd_bus_message_unref(reply);
        return answer;
    }
    const std::vector<std::string>& signals()
    {
        while (m_bus && sd_bus_process(m_bus, nullptr) > 0) {
        }
        return m_signals;
    }

private:
    std::string call_(sd_bus_message* call, sd_bus_message** reply)
    {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_call(m_bus, call, 10'000'000, &error, reply);
        sd_bus_message_unref(call);
        std::string name = error.name ? error.name : "";
        sd_bus_error_free(&error);
        return name;
    }
    static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error*)
    {
        const char* text = nullptr;
        std::string entry = sd_bus_message_get_member(message);
        if (sd_bus_message_read(message, "s", &text) > 0)
            entry += std::string(" ") + text;
        static_cast<Client*>(userdata)->m_signals.push_back(entry);
        return 0;
    }

    sd_bus* m_bus = nullptr;
    std::vector<std::string> m_signals;
};

// Tells a mock something through the given connection; false when it refused.
template <typename... Args>
bool mock(sd_bus* bus, const char* name, const char* path, const char* member, const char* types, Args... args)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const bool ok = sd_bus_call_method(bus, name, path, kMock, member, &error, nullptr, types, args...) >= 0;
    if (!ok)
        ADD_FAILURE() << member << ": " << error.message;
    sd_bus_error_free(&error);
    return ok;
}

bool hasOwner(sd_bus* bus, const char* name)
{
    sd_bus_message* reply = nullptr;
    int has = 0;
    sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                       nullptr, &reply, "s", name);
    sd_bus_message_read(reply, "b", &has);
    sd_bus_message_unref(reply);
    return has;
}

enum class Session { Active, Inactive, Remote, NoSeat, None };

// One private system bus and one pair of mocks for the whole binary.
struct Bus : ::testing::Environment {
    void SetUp() override
    {
        char folder[] = "/tmp/guard-bus-XXXXXX";
        ASSERT_TRUE(mkdtemp(folder));
        dir = folder;
        chmod(folder, 0755); // an ordinary user's client reaches the socket too
        mkdir((dir + "/input").c_str(), 0755);
        // As on the system bus, a method call needs a rule that allows it. Root (the mocks,
        // the tests' own clients) may do anything; the guard's policy lets others call it.
        std::ofstream(dir + "/bus.conf")
            << "<busconfig><type>system</type><listen>unix:path=" << dir << "/bus</listen><auth>EXTERNAL</auth>"
            << "<policy context='default'><allow user='*'/><deny own='*'/><deny send_type='method_call'/>"
            << "<allow send_type='signal'/><allow send_requested_reply='true' send_type='method_return'/>"
            << "<allow send_requested_reply='true' send_type='error'/><allow receive_type='*'/>"
            << "<allow send_destination='org.freedesktop.DBus' send_interface='org.freedesktop.DBus'/></policy>"
            << "<policy user='root'><allow own='*'/><allow send_type='method_call'/></policy>"
            << "<include>" GUARD_BUS_POLICY "</include></busconfig>";
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        daemon = std::make_unique<Child>(std::vector<std::string>{"dbus-daemon", "--nofork", "--nosyslog",
                                                                  "--print-address=1", "--config-file=" + dir + "/bus.conf"},
                                         out[1]);
        ::close(out[1]);
        char address[512] = {};
        ASSERT_GT(read(out[0], address, sizeof address - 1), 0) << "dbus-daemon did not start";
        ::close(out[0]);
        *strchr(address, '\n') = '\0';
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address, 1);
        root = std::make_unique<Client>();
        const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
        for (const char* name : {"polkitd", "logind"})
            mocks.emplace_back(std::vector<std::string>{DBUSMOCK_PYTHON, "-m", "dbusmock", "--system", "--template", name}, quiet);
        ::close(quiet);
        ASSERT_TRUE(eventually([&] { return hasOwner(root->bus(), kLogind) && hasOwner(root->bus(), kPolkit); }, 10s));
        ASSERT_TRUE(mock(root->bus(), kLogind, "/org/freedesktop/login1", "AddSession", "ssusb", "c1", "seat0", 1000u,
                         "user", 1));
    }
    void TearDown() override
    {
        root.reset();
        mocks.clear();
        daemon.reset();
        std::system(("rm -rf " + dir).c_str());
    }

    std::string dir;
    std::unique_ptr<Child> daemon;
    std::list<Child> mocks;
    std::unique_ptr<Client> root;
};

Bus* const bus = static_cast<Bus*>(::testing::AddGlobalTestEnvironment(new Bus));

// A fresh guard for each test.
class GuardBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        given(true, Session::Active);
        startGuard(30);
    }
    void TearDown() override
    {
        if (m_guard) {
            EXPECT_EQ(m_guard->stop(), 0) << "SIGTERM ends the service cleanly";
        }
    }

    void startGuard(int idleSeconds)
    {
        m_guard = std::make_unique<Child>(std::vector<std::string>{
            GUARD_BIN, "--device-dir=" + bus->dir + "/input", "--idle-exit-seconds=" + std::to_string(idleSeconds)});
        ASSERT_TRUE(eventually([] { return hasOwner(bus->root->bus(), kGuard); }));
    }

    static void given(bool polkitAllows, Session session)
    {
        sd_bus* root = bus->root->bus();
        ASSERT_TRUE(mock(root, kPolkit, kPolkitPath, "SimulateHang", "b", 0));
        ASSERT_TRUE(mock(root, kPolkit, kPolkitPath, "SetDelay", "d", 0.0));
        ASSERT_TRUE(polkitAllows ? mock(root, kPolkit, kPolkitPath, "SetAllowed", "as", 1,
                                        "com.orbinlabs.OrbinWash.InputGuard.lock")
                                 : mock(root, kPolkit, kPolkitPath, "SetAllowed", "as", 0));
        ASSERT_TRUE(mock(root, kLogind, "/org/freedesktop/login1", "AddMethod", "sssss", "", "GetSessionByPID", "u", "o",
                         session == Session::None
                             ? "raise dbus.exceptions.DBusException('none', name='org.freedesktop.login1.NoSessionForPID')"
                             : "ret = '/org/freedesktop/login1/session/c1'"));
        const bool noSeat = session == Session::NoSeat;
        ASSERT_TRUE(setSession("Active", "b", session != Session::Inactive));
        ASSERT_TRUE(setSession("Remote", "b", session == Session::Remote));
        ASSERT_TRUE(setSession("Seat", "(so)", noSeat ? "" : "seat0", noSeat ? "/" : "/org/freedesktop/login1/seat/seat0"));
    }
    // Sets a property of the mock session; it tells its watchers.
    template <typename... Args>
    static bool setSession(const char* property, const char* type, Args... value)
    {
        return sd_bus_call_method(bus->root->bus(), kLogind, kSession, "org.freedesktop.DBus.Properties", "Set",
                                  nullptr, nullptr, "ssv", "org.freedesktop.login1.Session", property, type,
                                  value...) >= 0;
    }

    std::unique_ptr<Child> m_guard;
};

struct AuthRow {
    const char* name;
    bool polkitAllows;
    Session session;
    uid_t caller;
    const char* canLock;
    const char* lockError; // "" when the lock is given
};

class GuardAuthTest : public GuardBusTest, public ::testing::WithParamInterface<AuthRow> {};

// CanLock's answer and Lock's result: "<canLock>|<lock error>".
std::string ask()
{
    Client client;
    int lease = -1;
    const std::string answer = client.canLock() + "|" + client.lock(&lease);
    ::close(lease);
    return answer;
}

// The same from a process of another user, which the bus policy must let through.
std::string askAs(uid_t uid)
{
    int out[2];
    if (uid == 0 || pipe(out) != 0)
        return ask();
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string answer = setgid(uid) == 0 && setuid(uid) == 0 ? ask() : "setuid failed";
        _exit(write(out[1], answer.data(), answer.size()) > 0 ? 0 : 1);
    }
    ::close(out[1]);
    char text[512] = {};
    const ssize_t got = read(out[0], text, sizeof text - 1);
    ::close(out[0]);
    waitpid(pid, nullptr, 0);
    return got > 0 ? text : "no answer";
}

TEST_P(GuardAuthTest, CanLockAndLockAgreeOnWhoMayTakeTheSeat)
{
    const AuthRow& row = GetParam();
    given(row.polkitAllows, row.session);
    EXPECT_EQ(askAs(row.caller), std::string(row.canLock) + "|" + row.lockError);
}

INSTANTIATE_TEST_SUITE_P(
    Callers, GuardAuthTest,
    ::testing::Values(AuthRow{"ActiveLocal", true, Session::Active, 0, "yes", ""},
                      AuthRow{"PolkitSaysNo", false, Session::Active, 0, "no not-authorized", kNotAuthorized},
                      AuthRow{"Inactive", true, Session::Inactive, 0, "no session-inactive", kNotActive},
                      AuthRow{"Remote", true, Session::Remote, 0, "no session-remote", kNotActive},
                      AuthRow{"NoSession", true, Session::None, 0, "no no-session", kNotActive},
                      AuthRow{"SessionWithoutSeat", true, Session::NoSeat, 0, "no no-session", kNotActive},
                      AuthRow{"OrdinaryUser", true, Session::Active, 65534, "yes", ""},
                      AuthRow{"OrdinaryUserPolkitSaysNo", false, Session::Active, 65534, "no not-authorized",
                              kNotAuthorized}),
    [](const ::testing::TestParamInfo<AuthRow>& row) { return std::string(row.param.name); });

TEST_F(GuardBusTest, SilentPolkitIsAnsweredNoInBoundedTimeWhileTheServiceKeepsAnswering)
{
    ASSERT_TRUE(mock(bus->root->bus(), kPolkit, kPolkitPath, "SimulateHang", "b", 1));
    std::string answer;
    std::thread asker([&] { answer = Client().canLock(); });
    std::this_thread::sleep_for(300ms);
    const auto pinged = std::chrono::steady_clock::now();
    EXPECT_EQ(Client().call("Ping", "org.freedesktop.DBus.Peer"), "");
    EXPECT_LT(std::chrono::steady_clock::now() - pinged, 1s);
    asker.join();
    EXPECT_EQ(answer, "no not-authorized");
}

TEST_F(GuardBusTest, LockOptionsOutOfRangeOrOfTheWrongTypeAreRefused)
{
    struct Row {
        const char* key;
        char type;
        uint32_t value;
        bool valid;
    };
    const std::array rows{Row{"hold-seconds", 'u', 0, false},     Row{"hold-seconds", 'u', 31, false},
                          Row{"hold-seconds", 'u', 30, true},     Row{"hold-seconds", 'i', 3, false},
                          Row{"timeout-seconds", 'u', 0, false},  Row{"timeout-seconds", 'u', 901, false},
                          Row{"timeout-seconds", 'u', 900, true}, Row{"some-future-option", 'u', 0, true}};
    Client client;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " " + row.type + " " + std::to_string(row.value));
        int lease = -1;
        EXPECT_EQ(client.lock(&lease, row.key, row.type, row.value), row.valid ? "" : kInvalidArgs);
        if (lease >= 0) {
            EXPECT_EQ(client.call("Release"), "");
            EXPECT_TRUE(hungUp(lease, 2000));
            ::close(lease);
        }
    }
}

TEST_F(GuardBusTest, OfTwoCallersCheckedAtOnceOneGetsTheLock)
{
    ASSERT_TRUE(mock(bus->root->bus(), kPolkit, kPolkitPath, "SetDelay", "d", 0.3));
    std::array<std::string, 2> results;
    std::array<int, 2> leases{-1, -1};
    std::array<Client, 2> clients;
    std::array<std::thread, 2> callers;
    for (size_t i = 0; i < callers.size(); ++i)
        callers[i] = std::thread([&, i] { results[i] = clients[i].lock(&leases[i]); });
    for (std::thread& caller : callers)
        caller.join();
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results, (std::array<std::string, 2>{"", kBusy}));
    for (int lease : leases)
        ::close(lease);
}

enum class End { CloseLease, OwnerLeaves, SessionInactive, SessionRemoved, Release, ReleaseByAnother };

struct EndRow {
    const char* name;
    End end;
    const char* released; // nullptr: the lock holds on
};

class GuardEndTest : public GuardBusTest, public ::testing::WithParamInterface<EndRow> {};

TEST_P(GuardEndTest, LockEndsForItsOwnerAloneAndFreesTheSeat)
{
    const EndRow& row = GetParam();
    Client owner;
    Client other;
    int lease = -1;
    ASSERT_EQ(owner.lock(&lease), "");
    int second = -1;
    EXPECT_EQ(other.lock(&second), kBusy);
    switch (row.end) {
    case End::CloseLease:
        ::close(lease);
        lease = -1;
        break;
    case End::OwnerLeaves:
        owner.close();
        break;
    case End::SessionInactive:
        ASSERT_TRUE(setSession("Active", "b", 0));
        break;
    case End::SessionRemoved:
        ASSERT_TRUE(mock(bus->root->bus(), kLogind, "/org/freedesktop/login1", "EmitSignal", "sssav", "", "SessionRemoved",
                         "so", 2, "s", "c1", "o", kSession));
        break;
    case End::Release:
        EXPECT_EQ(owner.call("Release"), "");
        break;
    case End::ReleaseByAnother:
        EXPECT_EQ(other.call("Release"), "");
        break;
    }
    if (!row.released) {
        EXPECT_FALSE(hungUp(lease, 300));
        EXPECT_EQ(other.lock(&second), kBusy);
    } else {
        if (lease >= 0) {
            EXPECT_TRUE(hungUp(lease, 2000)) << "the service still holds its end of the lease";
        }
        if (row.end != End::OwnerLeaves) {
            EXPECT_TRUE(eventually([&] { return !owner.signals().empty(); }));
            EXPECT_EQ(owner.signals(), std::vector<std::string>{std::string("Released ") + row.released});
        }
        given(true, Session::Active);
        EXPECT_TRUE(eventually([&] { return other.lock(&second).empty(); })) << "the seat stays taken";
        ::close(second);
    }
    EXPECT_TRUE(other.signals().empty()) << "another client heard the owner's signals";
    ::close(lease);
}

INSTANTIATE_TEST_SUITE_P(Ends, GuardEndTest,
                         ::testing::Values(EndRow{"LeaseClosed", End::CloseLease, "client-gone"},
                                           EndRow{"OwnerLeftTheBus", End::OwnerLeaves, "client-gone"},
                                           EndRow{"SessionTurnedInactive", End::SessionInactive, "session-inactive"},
                                           EndRow{"SessionRemoved", End::SessionRemoved, "session-inactive"},
                                           EndRow{"Released", End::Release, "requested"},
                                           EndRow{"ReleaseByAnotherClient", End::ReleaseByAnother, nullptr}),
                         [](const ::testing::TestParamInfo<EndRow>& row) { return std::string(row.param.name); });

TEST_F(GuardBusTest, InterfaceCarriesOnlyOptionsLeaseProgressReasonsAndDeviceNames)
{
    sd_bus_message* reply = nullptr;
    const char* xml = nullptr;
    ASSERT_GE(sd_bus_call_method(bus->root->bus(), kGuard, kPath, "org.freedesktop.DBus.Introspectable", "Introspect",
                                 nullptr, &reply, ""),
              0);
    ASSERT_GE(sd_bus_message_read(reply, "s", &xml), 0);
    std::string text = xml;
    sd_bus_message_unref(reply);
    text = text.substr(text.find(std::string("<interface name=\"") + kInterface));
    text = text.substr(0, text.find("</interface>"));
    // Every member and argument, in order: nothing else may cross the bus.
    const std::regex item(R"re(<(method|signal) name="(\w+)"|<arg type="([^"]+)"[^>]*?(in|out)?"?/>)re");
    std::string seen;
    for (std::sregex_iterator it(text.begin(), text.end(), item), end; it != end; ++it)
        seen += (*it)[1].matched ? (*it)[1].str() + " " + (*it)[2].str() + ":" : " " + (*it)[3].str() + (*it)[4].str();
    EXPECT_EQ(seen, "method Lock: a{sv}in hout"
                    "method Release:"
                    "method CanLock: bout sout"
                    "signal Progress: d"
                    "signal Released: s"
                    "signal DevicesRefused: as");
}

TEST_F(GuardBusTest, TellsSystemdItIsReadyAndKeepsPingingTheWatchdog)
{
    m_guard->stop();
    const std::string path = bus->dir + "/notify";
    const int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    setenv("NOTIFY_SOCKET", path.c_str(), 1);
    setenv("WATCHDOG_USEC", "400000", 1);
    startGuard(30);
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    std::string heard;
    const auto end = std::chrono::steady_clock::now() + 1s;
    for (char datagram[256]; std::chrono::steady_clock::now() < end;) {
        pollfd p{notify, POLLIN, 0};
        if (poll(&p, 1, 50) == 1)
            heard.append(datagram, static_cast<size_t>(recv(notify, datagram, sizeof datagram, 0))) += ';';
    }
    ::close(notify);
    EXPECT_NE(heard.find("READY=1;"), std::string::npos) << heard;
    // Within a second, a 0.4 s watchdog hears from it at least three times.
    size_t pings = 0;
    for (size_t at = heard.find("WATCHDOG=1;"); at != std::string::npos; at = heard.find("WATCHDOG=1;", at + 1))
        ++pings;
    EXPECT_GE(pings, 3u) << heard;
}

TEST_F(GuardBusTest, ServiceLeavesWhenIdleButNotWhileLocked)
{
    m_guard->stop();
    startGuard(1);
    EXPECT_EQ(m_guard->exitWithin(3s), 0) << "an untouched service stays";
    startGuard(1);
    // Neither a question to polkit still open nor a lock lets it go.
    ASSERT_TRUE(mock(bus->root->bus(), kPolkit, kPolkitPath, "SimulateHang", "b", 1));
    int lease = -1;
    Client client;
    std::thread locker([&] { EXPECT_EQ(client.lock(&lease), ""); });
    EXPECT_EQ(m_guard->exitWithin(2500ms), -1) << "left while a caller was being checked";
    ASSERT_TRUE(mock(bus->root->bus(), kPolkit, kPolkitPath, "ReleaseHangingCalls", ""));
    locker.join();
    EXPECT_EQ(m_guard->exitWithin(2500ms), -1) << "left while a lock was held";
    ::close(lease);
    EXPECT_EQ(m_guard->exitWithin(3s), 0) << "stays after the lock ended";
    EXPECT_FALSE(hasOwner(bus->root->bus(), kGuard));
    m_guard.reset();
}

} // namespace
