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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr const char* kPath = "/com/orbinlabs/OrbinWash/InputGuard";
constexpr const char* kInterface = "com.orbinlabs.OrbinWash.InputGuard1";
constexpr const char* kNotAuthorized = "com.orbinlabs.OrbinWash.InputGuard1.Error.NotAuthorized";
constexpr const char* kNotActive = "com.orbinlabs.OrbinWash.InputGuard1.Error.SessionNotActive";
constexpr const char* kBusy = "com.orbinlabs.OrbinWash.InputGuard1.Error.Busy";
constexpr const char* kSession = "/org/freedesktop/login1/session/c1";

struct Object {
    const char* name;
    const char* path;
    const char* interface;
};
const Object kGuard{"com.orbinlabs.OrbinWash.InputGuard", kPath, kInterface};
const Object kPolkit{"org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority", "org.freedesktop.DBus.Mock"};
const Object kLogind{"org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock"};
const Object kSessionProperties{"org.freedesktop.login1", kSession, "org.freedesktop.DBus.Properties"};
const Object kBusDriver{"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"};

// The error's name, or "" with the reply in *reply when asked for.
template <typename... Args>
std::string invoke(sd_bus* bus, const Object& to, const char* member, sd_bus_message** reply, const char* types = "",
                   Args... args)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_call_method(bus, to.name, to.path, to.interface, member, &error, reply, types, args...);
    std::string name = error.name ? error.name : "";
    sd_bus_error_free(&error);
    return name;
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s)
{
    for (const auto end = std::chrono::steady_clock::now() + limit; !done(); std::this_thread::sleep_for(5ms)) {
        if (std::chrono::steady_clock::now() > end)
            return false;
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
        : m_pid(fork())
    {
        if (m_pid != 0)
            return;
        if (stdoutFd >= 0)
            dup2(stdoutFd, STDOUT_FILENO);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
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
        if (m_pid > 0 && kill(m_pid, SIGTERM) == 0 && exitWithin(3s) < 0 && m_pid > 0 && kill(m_pid, SIGKILL) == 0)
            waitpid(std::exchange(m_pid, -1), &m_status, 0);
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    }

private:
    pid_t m_pid;
    int m_status = 0;
};

// A connection to the private system bus that records the guard's signals to it.
class Client {
public:
    Client()
    {
        sd_bus_open_system(&m_bus);
        sd_bus_match_signal(m_bus, nullptr, nullptr, kPath, kInterface, nullptr, &onSignal, this);
    }
    ~Client() { leave(); }
    void leave()
    {
        m_reply = sd_bus_message_unref(m_reply);
        m_bus = sd_bus_flush_close_unref(m_bus);
    }
    sd_bus* bus() const { return m_bus; }

    template <typename... Args>
    std::string call(const char* member, const char* types = "", Args... args)
    {
        m_reply = sd_bus_message_unref(m_reply);
        return invoke(m_bus, kGuard, member, &m_reply, types, args...);
    }
    // "" with *lease set, or the error's name.
    std::string lock(int* lease, const char* key = "hold-seconds", const char* type = "u", uint32_t value = 3)
    {
        const std::string error = call("Lock", "a{sv}", 1, key, type, value);
        int fd = -1;
        if (error.empty() && sd_bus_message_read(m_reply, "h", &fd) >= 0)
            *lease = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        m_reply = sd_bus_message_unref(m_reply); // it holds the fd open too
        return error;
    }
    // "yes", "no <why>" or the error's name.
    std::string canLock()
    {
        const std::string error = call("CanLock");
        int allowed = 0;
        const char* why = nullptr;
        if (!error.empty() || sd_bus_message_read(m_reply, "bs", &allowed, &why) < 0)
            return error;
        return allowed ? std::string("yes") + why : std::string("no ") + why;
    }
    const std::vector<std::string>& signals()
    {
        while (m_bus && sd_bus_process(m_bus, nullptr) > 0)
            continue;
        return m_signals;
    }

private:
    static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error*)
    {
        const char* text = "";
        sd_bus_message_read(message, "s", &text);
        static_cast<Client*>(userdata)->m_signals.push_back(sd_bus_message_get_member(message) + std::string(" ") + text);
        return 0;
    }

    sd_bus* m_bus = nullptr;
    sd_bus_message* m_reply = nullptr;
    std::vector<std::string> m_signals;
};

// A method's one boolean answer; false after an error.
template <typename... Args>
bool yes(sd_bus* bus, const Object& to, const char* member, const char* types = "", Args... args)
{
    sd_bus_message* reply = nullptr;
    int answer = 0;
    invoke(bus, to, member, &reply, types, args...);
    sd_bus_message_read(reply, "b", &answer);
    sd_bus_message_unref(reply);
    return answer;
}

bool hasOwner(sd_bus* bus, const char* name)
{
    return yes(bus, kBusDriver, "NameHasOwner", "s", name);
}

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
        daemon = std::make_unique<Child>(
            std::vector<std::string>{"dbus-daemon", "--nofork", "--nosyslog", "--print-address=1", "--config-file=" + dir + "/bus.conf"},
            out[1]);
        close(out[1]);
        char address[512] = {};
        ASSERT_GT(read(out[0], address, sizeof address - 1), 0) << "dbus-daemon did not start";
        close(out[0]);
        *strchr(address, '\n') = '\0';
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address, 1);
        root = std::make_unique<Client>();
        const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
        for (const char* name : {"polkitd", "logind"})
            mocks.emplace_back(std::vector<std::string>{DBUSMOCK_PYTHON, "-m", "dbusmock", "--system", "--template", name}, quiet);
        close(quiet);
        ASSERT_TRUE(eventually([&] { return hasOwner(root->bus(), kLogind.name) && hasOwner(root->bus(), kPolkit.name); },
                               10s));
        // c1 is root's session unless a test gives it to nobody (65534); both have a user object.
        ASSERT_EQ(invoke(root->bus(), kLogind, "AddSession", nullptr, "ssusb", "c1", "seat0", 0u, "root", 1), "");
        ASSERT_EQ(invoke(root->bus(), kLogind, "AddUser", nullptr, "usb", 65534u, "nobody", 1), "");
        // The template's own GetUser adds a number to a string.
        ASSERT_EQ(invoke(root->bus(), kLogind, "AddMethod", nullptr, "sssss", "", "GetUser", "u", "o",
                         "ret = '/org/freedesktop/login1/user/%d' % args[0]"), "");
    }
    void TearDown() override
    {
        root.reset();
        mocks.clear();
        daemon.reset();
        std::filesystem::remove_all(dir);
    }

    std::string dir;
    std::unique_ptr<Child> daemon;
    std::list<Child> mocks;
    std::unique_ptr<Client> root;
};

Bus* const bus = static_cast<Bus*>(::testing::AddGlobalTestEnvironment(new Bus));

template <typename... Args>
void tell(const Object& mock, const char* member, const char* types = "", Args... args)
{
    ASSERT_EQ(invoke(bus->root->bus(), mock, member, nullptr, types, args...), "") << member;
}

template <typename... Args>
void setSession(const char* property, const char* type, Args... value)
{
    tell(kSessionProperties, "Set", "ssv", "org.freedesktop.login1.Session", property, type, value...);
}

// None and Display: the caller's PID is in no session (as under user@UID.service); with
// Display, its user's display session is c1.
enum class Session { Active, Inactive, Remote, NoSeat, None, Display };

void given(bool polkitAllows, Session session, uid_t owner = 0)
{
    tell(kPolkit, "SimulateHang", "b", 0);
    tell(kPolkit, "SetDelay", "d", 0.0);
    tell(kPolkit, "SetAllowed", "as", polkitAllows ? 1 : 0, "com.orbinlabs.OrbinWash.InputGuard.lock");
    const bool outside = session == Session::None || session == Session::Display;
    tell(kLogind, "AddMethod", "sssss", "", "GetSessionByPID", "u", "o",
         outside ? "raise dbus.exceptions.DBusException('none', name='org.freedesktop.login1.NoSessionForPID')"
                 : "ret = '/org/freedesktop/login1/session/c1'");
    const bool display = session == Session::Display, noSeat = session == Session::NoSeat;
    const std::string user = "/org/freedesktop/login1/user/" + std::to_string(owner);
    tell({kLogind.name, user.c_str(), "org.freedesktop.DBus.Properties"}, "Set", "ssv", "org.freedesktop.login1.User",
         "Display", "(so)", display ? "c1" : "", display ? kSession : "/");
    setSession("User", "(uo)", owner, user.c_str());
    setSession("Active", "b", session != Session::Inactive);
    setSession("Remote", "b", session == Session::Remote);
    setSession("Seat", "(so)", noSeat ? "" : "seat0", noSeat ? "/" : "/org/freedesktop/login1/seat/seat0");
}

// A fresh guard for each test, its callers in the active local session c1 on seat0.
class GuardBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        given(true, Session::Active);
        startGuard(30);
    }
    void TearDown() override { EXPECT_TRUE(!m_guard || m_guard->stop() == 0) << "SIGTERM ends the service cleanly"; }

    void startGuard(int idleSeconds)
    {
        m_guard = std::make_unique<Child>(std::vector<std::string>{
            GUARD_BIN, "--device-dir=" + bus->dir + "/input", "--idle-exit-seconds=" + std::to_string(idleSeconds)});
        ASSERT_TRUE(eventually([] { return hasOwner(bus->root->bus(), kGuard.name); }));
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
    uid_t owner = 0;       // c1's user
};

class GuardAuthTest : public GuardBusTest, public ::testing::WithParamInterface<AuthRow> {};

// "<CanLock's answer>|<Lock's error>", asked as the given user, whom the bus policy must
// let through.
std::string askAs(uid_t uid)
{
    const auto ask = [] {
        Client client;
        int lease = -1;
        const std::string answer = client.canLock() + "|" + client.lock(&lease);
        close(lease);
        return answer;
    };
    int out[2];
    if (uid == 0 || pipe(out) != 0)
        return ask();
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string answer = setgid(uid) == 0 && setuid(uid) == 0 ? ask() : "setuid failed";
        _exit(write(out[1], answer.data(), answer.size()) > 0 ? 0 : 1);
    }
    close(out[1]);
    char text[512] = {};
    const ssize_t got = read(out[0], text, sizeof text - 1);
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return got > 0 ? text : "no answer";
}

TEST_P(GuardAuthTest, CanLockAndLockAgreeOnWhoMayTakeTheSeat)
{
    const AuthRow& row = GetParam();
    given(row.polkitAllows, row.session, row.owner);
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
                      AuthRow{"AnotherUsersSession", true, Session::Active, 65534, "no no-session", kNotActive},
                      AuthRow{"UsersDisplaySession", true, Session::Display, 65534, "yes", "", 65534}),
    [](const ::testing::TestParamInfo<AuthRow>& row) { return std::string(row.param.name); });

TEST_F(GuardBusTest, CallersWhoMayNotLockLearnNothingOfARunningLock)
{
    Client owner;
    int lease = -1, second = -1;
    ASSERT_EQ(owner.lock(&lease), "");
    EXPECT_EQ(askAs(65534), std::string("no no-session|") + kNotActive);
    tell(kPolkit, "SetAllowed", "as", 0);
    EXPECT_EQ(Client().lock(&second), kNotAuthorized);
    close(lease);
}

TEST_F(GuardBusTest, SessionTurningInactiveWhilePolkitDecidesGetsNoLock)
{
    tell(kPolkit, "SimulateHang", "b", 1);
    std::string result = "none";
    int lease = -1;
    std::thread locker([&] { result = Client().lock(&lease); });
    EXPECT_TRUE(eventually([] { return yes(bus->root->bus(), kPolkit, "HaveHangingCalls"); }));
    setSession("Active", "b", 0);
    tell(kPolkit, "ReleaseHangingCalls");
    locker.join();
    EXPECT_EQ(result, kNotActive);
    given(true, Session::Active);
    EXPECT_EQ(Client().lock(&lease), "") << "the refused start left the service taken";
    close(lease);
}

TEST_F(GuardBusTest, PolkitMayAskForAPasswordOnlyWhereTheCallerAllowsIt)
{
    for (const int allow : {1, 0}) {
        Client client;
        sd_bus_set_allow_interactive_authorization(client.bus(), allow);
        int lease = -1;
        tell(kPolkit, "ClearCalls");
        EXPECT_EQ(client.lock(&lease), "");
        EXPECT_EQ(client.call("Release"), "");
        close(lease);
        // a(tav): the one call's time, then its subject, action, details and flags.
        sd_bus_message* calls = nullptr;
        uint32_t flags = 99;
        invoke(bus->root->bus(), kPolkit, "GetMethodCalls", &calls, "s", "CheckAuthorization");
        if (sd_bus_message_enter_container(calls, 'a', "(tav)") > 0 && sd_bus_message_enter_container(calls, 'r', "tav") > 0 &&
            sd_bus_message_skip(calls, "t") >= 0 && sd_bus_message_enter_container(calls, 'a', "v") > 0 &&
            sd_bus_message_skip(calls, "vvv") >= 0)
            sd_bus_message_read(calls, "v", "u", &flags);
        sd_bus_message_unref(calls);
        EXPECT_EQ(flags, uint32_t(allow));
    }
}

TEST_F(GuardBusTest, SilentPolkitIsAnsweredNoInBoundedTimeWhileTheServiceKeepsAnswering)
{
    tell(kPolkit, "SimulateHang", "b", 1);
    std::string answer;
    std::thread asker([&] { answer = Client().canLock(); });
    std::this_thread::sleep_for(300ms);
    const auto pinged = std::chrono::steady_clock::now();
    EXPECT_EQ(invoke(bus->root->bus(), {kGuard.name, kPath, "org.freedesktop.DBus.Peer"}, "Ping", nullptr), "");
    EXPECT_LT(std::chrono::steady_clock::now() - pinged, 1s);
    asker.join();
    EXPECT_EQ(answer, "no not-authorized");
}

TEST_F(GuardBusTest, LockOptionsOutOfRangeOrOfTheWrongTypeAreRefused)
{
    struct Row {
        const char* key;
        const char* type;
        uint32_t value;
        bool valid;
    };
    const std::array rows{Row{"hold-seconds", "u", 0, false},     Row{"hold-seconds", "u", 31, false},
                          Row{"hold-seconds", "u", 30, true},     Row{"hold-seconds", "i", 3, false},
                          Row{"timeout-seconds", "u", 0, false},  Row{"timeout-seconds", "u", 901, false},
                          Row{"timeout-seconds", "u", 900, true}, Row{"some-future-option", "u", 0, true}};
    Client client;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " " + row.type + " " + std::to_string(row.value));
        int lease = -1;
        EXPECT_EQ(client.lock(&lease, row.key, row.type, row.value),
                  row.valid ? "" : "org.freedesktop.DBus.Error.InvalidArgs");
        if (lease >= 0) {
            EXPECT_EQ(client.call("Release"), "");
            EXPECT_TRUE(hungUp(lease, 2000));
            close(lease);
        }
    }
}

TEST_F(GuardBusTest, OfTwoCallersCheckedAtOnceOneGetsTheLock)
{
    tell(kPolkit, "SetDelay", "d", 0.3);
    std::array<std::string, 2> results;
    std::array<int, 2> leases{-1, -1};
    std::array<Client, 2> clients;
    std::thread other([&] { results[1] = clients[1].lock(&leases[1]); });
    results[0] = clients[0].lock(&leases[0]);
    other.join();
    std::sort(results.begin(), results.end());
    EXPECT_EQ(results, (std::array<std::string, 2>{"", kBusy}));
    for (int lease : leases)
        close(lease);
}

struct EndRow {
    const char* name;
    void (*end)(Client& owner, Client& other, int& lease);
    const char* released; // nullptr: the lock holds on
};

class GuardEndTest : public GuardBusTest, public ::testing::WithParamInterface<EndRow> {};

TEST_P(GuardEndTest, LockEndsForItsOwnerAloneAndFreesTheSeat)
{
    const EndRow& row = GetParam();
    Client owner, other;
    int lease = -1, second = -1;
    ASSERT_EQ(owner.lock(&lease), "");
    EXPECT_EQ(other.lock(&second), kBusy);
    row.end(owner, other, lease);
    if (!row.released) {
        EXPECT_FALSE(hungUp(lease, 300));
        EXPECT_EQ(other.lock(&second), kBusy);
    } else {
        EXPECT_TRUE(lease < 0 || hungUp(lease, 2000)) << "the service still holds its end of the lease";
        if (owner.bus()) {
            EXPECT_TRUE(eventually([&] { return !owner.signals().empty(); }));
            EXPECT_EQ(owner.signals(), std::vector<std::string>{std::string("Released ") + row.released});
        }
        given(true, Session::Active);
        EXPECT_TRUE(eventually([&] { return other.lock(&second).empty(); })) << "the seat stays taken";
    }
    EXPECT_TRUE(other.signals().empty()) << "another client heard the owner's signals";
    close(lease);
    close(second);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, GuardEndTest,
    ::testing::Values(
        EndRow{"LeaseClosed", [](Client&, Client&, int& lease) { close(std::exchange(lease, -1)); }, "client-gone"},
        EndRow{"OwnerLeftTheBus", [](Client& owner, Client&, int&) { owner.leave(); }, "client-gone"},
        EndRow{"SessionTurnedInactive", [](Client&, Client&, int&) { setSession("Active", "b", 0); }, "session-inactive"},
        EndRow{"SessionRemoved", [](Client&, Client&, int&) {
                   tell(kLogind, "EmitSignal", "sssav", "", "SessionRemoved", "so", 2, "s", "c1", "o", kSession);
               }, "session-inactive"},
        EndRow{"Released", [](Client& owner, Client&, int&) { EXPECT_EQ(owner.call("Release"), ""); }, "requested"},
        EndRow{"ReleaseByAnotherClient", [](Client&, Client& other, int&) { EXPECT_EQ(other.call("Release"), ""); },
               nullptr}),
    [](const ::testing::TestParamInfo<EndRow>& row) { return std::string(row.param.name); });

TEST_F(GuardBusTest, InterfaceCarriesOnlyOptionsLeaseProgressReasonsAndDeviceNames)
{
    sd_bus_message* reply = nullptr;
    const char* xml = "";
    invoke(bus->root->bus(), {kGuard.name, kPath, "org.freedesktop.DBus.Introspectable"}, "Introspect", &reply);
    sd_bus_message_read(reply, "s", &xml);
    std::string text = xml;
    sd_bus_message_unref(reply);
    text = text.substr(text.find(std::string("<interface name=\"") + kInterface) + 1);
    text = text.substr(0, text.find("</interface>"));
    // Every member and argument, in order: nothing else may cross the bus.
    std::string seen;
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        const std::string tag = text.substr(at, text.find('>', at) - at);
        const auto attribute = [&tag](const std::string& name) {
            const size_t start = tag.find(" " + name + "=\"");
            const size_t from = start + name.size() + 3;
            return start == std::string::npos ? std::string() : tag.substr(from, tag.find('"', from) - from);
        };
        if (tag.starts_with("<method ") || tag.starts_with("<signal "))
            seen += tag.substr(1, 6) + " " + attribute("name") + ":";
        else if (tag.starts_with("<arg "))
            seen += " " + attribute("type") + attribute("direction");
    }
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
    sockaddr_un address{AF_UNIX, {}};
    (bus->dir + "/notify").copy(address.sun_path, sizeof address.sun_path - 1);
    const int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    setenv("NOTIFY_SOCKET", address.sun_path, 1);
    setenv("WATCHDOG_USEC", "400000", 1);
    startGuard(30);
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    std::vector<std::string> heard;
    for (const auto end = std::chrono::steady_clock::now() + 1s; std::chrono::steady_clock::now() < end;) {
        char datagram[64];
        pollfd p{notify, POLLIN, 0};
        if (poll(&p, 1, 50) == 1)
            heard.emplace_back(datagram, std::max(recv(notify, datagram, sizeof datagram, 0), ssize_t{0}));
    }
    close(notify);
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "READY=1"), 1);
    // A 0.4 s watchdog hears from it at least three times a second.
    EXPECT_GE(std::count(heard.begin(), heard.end(), "WATCHDOG=1"), 3);
}

TEST_F(GuardBusTest, ServiceLeavesWhenIdleButNotWhileACallerIsCheckedOrALockHeld)
{
    m_guard->stop();
    startGuard(1);
    EXPECT_EQ(m_guard->exitWithin(3s), 0) << "an untouched service stays";
    startGuard(1);
    tell(kPolkit, "SimulateHang", "b", 1);
    int lease = -1;
    Client client;
    std::thread locker([&] { EXPECT_EQ(client.lock(&lease), ""); });
    EXPECT_EQ(m_guard->exitWithin(2500ms), -1) << "left while a caller was being checked";
    tell(kPolkit, "ReleaseHangingCalls");
    locker.join();
    EXPECT_EQ(m_guard->exitWithin(2500ms), -1) << "left while a lock was held";
    close(lease);
    EXPECT_EQ(m_guard->exitWithin(3s), 0) << "stays after the lock ended";
    EXPECT_FALSE(hasOwner(bus->root->bus(), kGuard.name));
    m_guard.reset();
}

} // namespace
