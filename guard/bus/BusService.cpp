#include "BusService.h"

#include "Authority.h"
#include "DeviceSource.h"
#include "InputLock.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-event.h>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace owguard {

namespace {

constexpr const char* kName = "com.orbinlabs.OrbinWash.InputGuard";
constexpr const char* kPath = "/com/orbinlabs/OrbinWash/InputGuard";
constexpr const char* kInterface = "com.orbinlabs.OrbinWash.InputGuard1";
constexpr const char* kNotAuthorized = "com.orbinlabs.OrbinWash.InputGuard1.Error.NotAuthorized";
constexpr const char* kSessionNotActive = "com.orbinlabs.OrbinWash.InputGuard1.Error.SessionNotActive";
constexpr const char* kBusy = "com.orbinlabs.OrbinWash.InputGuard1.Error.Busy";
constexpr const char* kFailed = "com.orbinlabs.OrbinWash.InputGuard1.Error.Failed";

using CallPtr = std::shared_ptr<sd_bus_message>;

CallPtr keep(sd_bus_message* call)
{
    return CallPtr(sd_bus_message_ref(call), sd_bus_message_unref);
}

struct SourceUnref {
    void operator()(sd_event_source* source) const { sd_event_source_unref(source); }
};
using SourcePtr = std::unique_ptr<sd_event_source, SourceUnref>;

// Reads Lock's options; false on a value of the wrong type or out of range.
bool readOptions(sd_bus_message* call, LockOptions& options)
{
    if (sd_bus_message_enter_container(call, 'a', "{sv}") < 0)
        return false;
    int r = 0;
    while ((r = sd_bus_message_enter_container(call, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(call, "s", &key) < 0)
            return false;
        unsigned* value = std::strcmp(key, "hold-seconds") == 0      ? &options.holdSeconds
                          : std::strcmp(key, "timeout-seconds") == 0 ? &options.timeoutSeconds
                                                                     : nullptr;
        uint32_t number = 0;
        if (value ? sd_bus_message_read(call, "v", "u", &number) < 0 : sd_bus_message_skip(call, "v") < 0)
            return false;
        if (value)
            *value = number;
        if (sd_bus_message_exit_container(call) < 0)
            return false;
    }
    return r >= 0 && options.holdSeconds >= 1 && options.holdSeconds <= 30 && options.timeoutSeconds >= 1 &&
           options.timeoutSeconds <= 900;
}

class BusService final : public LockListener {
public:
    BusService(sd_event* loop, sd_bus* bus, DeviceSource& devices, uint64_t idleUsec)
        : m_loop(loop)
        , m_bus(bus)
        , m_devices(devices)
        , m_authority(bus)
        , m_idleUsec(idleUsec)
    {
    }

    ~BusService() override
    {
        // Releasing here still tells the owner, before the bus is flushed and closed.
        m_lock.reset();
    }

    bool start()
    {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD_WITH_ARGS("Lock", SD_BUS_ARGS("a{sv}", options), SD_BUS_RESULT("h", lease), &onLock,
                                    SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD_WITH_ARGS("Release", SD_BUS_NO_ARGS, SD_BUS_NO_RESULT, &onRelease,
                                    SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD_WITH_ARGS("CanLock", SD_BUS_NO_ARGS, SD_BUS_RESULT("b", allowed, "s", why), &onCanLock,
                                    SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_SIGNAL_WITH_ARGS("Progress", SD_BUS_ARGS("d", fraction), 0),
            SD_BUS_SIGNAL_WITH_ARGS("Released", SD_BUS_ARGS("s", reason), 0),
            SD_BUS_SIGNAL_WITH_ARGS("DevicesRefused", SD_BUS_ARGS("as", names), 0),
            SD_BUS_VTABLE_END,
        };
        sd_event_source* idle = nullptr;
        sd_event_source* cleanup = nullptr;
        const bool ok = sd_bus_add_object_vtable(m_bus, nullptr, kPath, kInterface, vtable, this) >= 0 &&
                        sd_event_add_time_relative(m_loop, &idle, CLOCK_MONOTONIC, m_idleUsec, 0, &onIdle, this) >= 0 &&
                        sd_event_add_defer(m_loop, &cleanup, &onCleanup, this) >= 0;
        m_idle.reset(idle);
        m_cleanup.reset(cleanup);
        return ok && sd_event_source_set_enabled(cleanup, SD_EVENT_OFF) >= 0 &&
               sd_bus_request_name(m_bus, kName, 0) >= 0;
    }

    void grabbed(const std::string&) override {}

    void refused(const std::string&, const std::string& deviceName) override
    {
        m_refused.push_back(deviceName);
        if (!m_starting)
            sendRefused();
    }

    void progress(double fraction) override { emit("Progress", "d", fraction); }

    void released(ReleaseReason reason) override
    {
        emit("Released", "s", reasonName(reason));
        // The lock is still on the stack here: it goes on the next loop turn.
        sd_event_source_set_enabled(m_cleanup.get(), SD_EVENT_ONESHOT);
    }

private:
    bool held() const { return m_lock && m_lock->isHeld(); }

    void rearmIdle()
    {
        sd_event_source_set_time_relative(m_idle.get(), m_idleUsec);
        sd_event_source_set_enabled(m_idle.get(), SD_EVENT_ONESHOT);
    }

    template <typename... Args>
    void emit(const char* member, const char* types, Args... args)
    {
        sd_bus_message* message = nullptr;
        // Unicast: no other client learns even that the owner is holding a chord.
        if (sd_bus_message_new_signal(m_bus, &message, kPath, kInterface, member) >= 0 &&
            sd_bus_message_set_destination(message, m_owner.c_str()) >= 0 &&
            sd_bus_message_append(message, types, args...) >= 0) {
            sd_bus_send(m_bus, message, nullptr);
        }
        sd_bus_message_unref(message);
    }

    void sendRefused()
    {
        std::vector<const char*> names;
        for (const std::string& name : m_refused)
            names.push_back(name.c_str());
        names.push_back(nullptr);
        sd_bus_message* message = nullptr;
        if (sd_bus_message_new_signal(m_bus, &message, kPath, kInterface, "DevicesRefused") >= 0 &&
            sd_bus_message_set_destination(message, m_owner.c_str()) >= 0 &&
            sd_bus_message_append_strv(message, const_cast<char**>(names.data())) >= 0) {
            sd_bus_send(m_bus, message, nullptr);
        }
        sd_bus_message_unref(message);
        m_refused.clear();
    }

    // Drops a lock that has ended, or a granted call that got none; a lock that holds and a
    // call still waiting for the session's state are left alone.
    void dropEndedLock()
    {
        if (held() || m_granted || m_owner.empty())
            return;
        m_lock.reset();
        m_authority.unwatch();
        m_owner.clear();
        rearmIdle();
    }

    static int onCleanup(sd_event_source*, void* userdata)
    {
        static_cast<BusService*>(userdata)->dropEndedLock();
        return 0;
    }

    static int onIdle(sd_event_source*, uint64_t, void* userdata)
    {
        auto* self = static_cast<BusService*>(userdata);
        // Off while a lock holds; a caller may still be waiting on polkit.
        if (self->m_authority.checking()) {
            self->rearmIdle();
            return 0;
        }
        // Give the name up first so the next caller starts a fresh instance.
        sd_bus_release_name(self->m_bus, kName);
        return sd_event_exit(self->m_loop, 0);
    }

    static int onLock(sd_bus_message* call, void* userdata, sd_bus_error* error)
    {
        auto* self = static_cast<BusService*>(userdata);
        LockOptions options;
        if (!readOptions(call, options)) {
            return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS,
                                    "hold-seconds is a u of 1..30, timeout-seconds a u of 1..900");
        }
        if (!self->held())
            self->rearmIdle();
        const bool interactive = sd_bus_message_get_allow_interactive_authorization(call) > 0;
        self->m_authority.check(call, interactive, [self, options, call = keep(call)](const Authority::Answer& answer) {
            self->finishLock(call, options, answer);
        });
        return 1;
    }

    void finishLock(const CallPtr& call, LockOptions options, const Authority::Answer& answer)
    {
        if (answer.verdict == Verdict::NotAuthorized) {
            sd_bus_reply_method_errorf(call.get(), kNotAuthorized, "Not authorized to lock the input");
            return;
        }
        if (answer.verdict != Verdict::Allowed) {
            sd_bus_reply_method_errorf(call.get(), kSessionNotActive, "The caller's session cannot lock: %s",
                                       verdictName(answer.verdict));
            return;
        }
        dropEndedLock();
        // Only now, so that a caller who may not lock never learns that a lock is running;
        // another caller may also have won while this one was being checked.
        if (m_lock || m_granted) {
            sd_bus_reply_method_errorf(call.get(), kBusy, "Another lock is running");
            return;
        }
        m_owner = sd_bus_message_get_sender(call.get());
        m_granted = call;
        options.seat = answer.seat;
        m_grantedOptions = options;
        if (!m_authority.watch(m_owner, answer.session, [this] { startLock(); },
                               [this](ReleaseReason reason) { lost(reason); })) {
            abandon(kFailed, "Cannot watch the caller");
        }
    }

    // The watch is in place and the session still active: the devices may be taken.
    void startLock()
    {
        int lease[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, lease) < 0)
            return abandon(kFailed, std::string("No lease: ") + std::strerror(errno));
        std::string why;
        m_starting = true;
        m_lock = InputLock::start(m_loop, m_devices, m_grantedOptions, lease[0], *this, &why);
        m_starting = false;
        if (!m_lock) {
            close(lease[1]);
            m_refused.clear();
            return abandon(kFailed, why);
        }
        sd_bus_reply_method_return(std::exchange(m_granted, nullptr).get(), "h", lease[1]);
        close(lease[1]);
        sd_event_source_set_enabled(m_idle.get(), SD_EVENT_OFF);
        if (!m_refused.empty())
            sendRefused();
    }

    void lost(ReleaseReason reason)
    {
        if (m_lock)
            m_lock->release(reason);
        else if (m_granted)
            abandon(kSessionNotActive, std::string("The caller's session cannot lock: ") + reasonName(reason));
    }

    // A granted call gets no lock after all. Its watch goes on the next loop turn, as this
    // may run inside one of the watch's own callbacks.
    void abandon(const char* error, const std::string& why)
    {
        sd_bus_reply_method_errorf(std::exchange(m_granted, nullptr).get(), error, "%s", why.c_str());
        sd_event_source_set_enabled(m_cleanup.get(), SD_EVENT_ONESHOT);
    }

    static int onRelease(sd_bus_message* call, void* userdata, sd_bus_error*)
    {
        auto* self = static_cast<BusService*>(userdata);
        const char* sender = sd_bus_message_get_sender(call);
        if (self->held() && sender && self->m_owner == sender)
            self->m_lock->release(ReleaseReason::Requested);
        return sd_bus_reply_method_return(call, "");
    }

    static int onCanLock(sd_bus_message* call, void* userdata, sd_bus_error*)
    {
        auto* self = static_cast<BusService*>(userdata);
        if (!self->held())
            self->rearmIdle();
        self->m_authority.check(call, false, [call = keep(call)](const Authority::Answer& answer) {
            sd_bus_reply_method_return(call.get(), "bs", answer.verdict == Verdict::Allowed,
                                       verdictName(answer.verdict));
        });
        return 1;
    }

    sd_event* m_loop;
    sd_bus* m_bus;
    DeviceSource& m_devices;
    Authority m_authority;
    uint64_t m_idleUsec;
    SourcePtr m_idle;
    SourcePtr m_cleanup;
    std::string m_owner;
    std::vector<std::string> m_refused;
    CallPtr m_granted; // authorised, waiting for the session's state once more
    LockOptions m_grantedOptions;
    bool m_starting = false;
    std::unique_ptr<InputLock> m_lock;
};

bool parseArguments(int argc, char** argv, unsigned& idleSeconds, std::string& deviceDir)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&](std::string_view option) {
            return arg.substr(0, option.size()) == option ? arg.substr(option.size()) : std::string_view();
        };
        if (!value("--device-dir=").empty()) {
            deviceDir = value("--device-dir=");
        } else if (!value("--idle-exit-seconds=").empty()) {
            char* end = nullptr;
            const std::string number(value("--idle-exit-seconds="));
            const unsigned long seconds = std::strtoul(number.c_str(), &end, 10);
            if (*end != '\0' || seconds < 1 || seconds > 3600)
                return false;
            idleSeconds = static_cast<unsigned>(seconds);
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int runBusService(int argc, char** argv)
{
    unsigned idleSeconds = 30;
    std::string deviceDir = "/dev/input";
    if (!parseArguments(argc, argv, idleSeconds, deviceDir)) {
        std::fprintf(stderr, "usage: %s [--idle-exit-seconds=N] [--device-dir=PATH]\n", argv[0]);
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);

    sd_event* loop = nullptr;
    sd_bus* bus = nullptr;
    if (sd_event_new(&loop) < 0 || sd_bus_open_system(&bus) < 0 || sd_bus_attach_event(bus, loop, 0) < 0) {
        std::fprintf(stderr, "orbinwash-inputguard: cannot reach the system bus\n");
        sd_bus_unref(bus);
        sd_event_unref(loop);
        return 1;
    }
    // A NULL handler ends the loop; the service's destructor then releases a running lock.
    sd_event_add_signal(loop, nullptr, SIGTERM, nullptr, nullptr);
    sd_event_add_signal(loop, nullptr, SIGINT, nullptr, nullptr);
    sd_bus_set_exit_on_disconnect(bus, 1);
    // Pings systemd's watchdog from the loop when the unit asks for it.
    sd_event_set_watchdog(loop, 1);

    int status = 1;
    {
        DeviceSource devices(deviceDir);
        BusService service(loop, bus, devices, uint64_t{idleSeconds} * 1'000'000);
        if (service.start()) {
            sd_notify(0, "READY=1");
            status = sd_event_loop(loop) < 0 ? 1 : 0;
        } else {
            std::fprintf(stderr, "orbinwash-inputguard: cannot serve %s\n", kName);
        }
    }
    sd_bus_flush_close_unref(bus);
    sd_event_unref(loop);
    return status;
}

} // namespace owguard
