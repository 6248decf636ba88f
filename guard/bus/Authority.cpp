#include "Authority.h"

#include <sys/types.h>

#include <cstring>
#include <utility>

namespace owguard {

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";
constexpr const char* kUserInterface = "org.freedesktop.login1.User";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kPolkit = "org.freedesktop.PolicyKit1";
constexpr const char* kLockAction = "com.orbinlabs.OrbinWash.InputGuard.lock";
constexpr uint64_t kCallTimeoutUsec = 5'000'000;
// A password prompt needs a person's time; the loop runs on meanwhile.
constexpr uint64_t kInteractiveTimeoutUsec = 60'000'000;

struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// A method call with its arguments; nullptr when it cannot be made.
template <typename... Args>
MessagePtr newCall(sd_bus* bus, const char* destination, const char* path, const char* interface,
                   const char* member, const char* types, Args... args)
{
    sd_bus_message* message = nullptr;
    if (sd_bus_message_new_method_call(bus, &message, destination, path, interface, member) < 0)
        return nullptr;
    MessagePtr call(message);
    return sd_bus_message_append(message, types, args...) < 0 ? nullptr : std::move(call);
}

} // namespace

const char* verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Allowed:
        return "";
    case Verdict::NotAuthorized:
        return "not-authorized";
    case Verdict::SessionInactive:
        return "session-inactive";
    case Verdict::SessionRemote:
        return "session-remote";
    case Verdict::NoSession:
        break;
    }
    return "no-session";
}

struct Authority::Check {
    Authority* authority;
    std::string caller;
    uid_t uid;
    bool interactive;
    Done done;
    Answer answer;
    Step next = nullptr;
    SlotPtr pending;
};

Authority::Authority(sd_bus* bus)
    : m_bus(sd_bus_ref(bus))
{
}

Authority::~Authority()
{
    unwatch();
    m_checks.clear();
    sd_bus_unref(m_bus);
}

void Authority::check(sd_bus_message* call, bool interactive, Done done)
{
    const char* sender = sd_bus_message_get_sender(call);
    auto& check = *m_checks.emplace_back(
        std::make_unique<Check>(Check{this, sender ? sender : "", 0, interactive, std::move(done), {}, {}, {}}));
    // The bus daemon answers this from its own table, which holds what the kernel said of the
    // caller when it connected: no outside service to wait for, and no /proc to read (the
    // unit hides it). Debian 12's dbus offers no pidfd, so the process is known by its PID,
    // which is why the session's user must also be the caller's.
    sd_bus_creds* creds = nullptr;
    pid_t pid = 0;
    const bool known = sd_bus_query_sender_creds(call, SD_BUS_CREDS_PID | SD_BUS_CREDS_EUID, &creds) >= 0 &&
                       sd_bus_creds_get_pid(creds, &pid) >= 0 && sd_bus_creds_get_euid(creds, &check.uid) >= 0;
    sd_bus_creds_unref(creds);
    if (!known || !ask(check, newCall(m_bus, kLogind, kLogindPath, kLogindManager, "GetSessionByPID", "u",
                                      static_cast<uint32_t>(pid)).get(),
                       &Authority::gotSession, kCallTimeoutUsec)) {
        finish(check, Verdict::NoSession);
    }
}

bool Authority::ask(Check& check, sd_bus_message* request, Step next, uint64_t timeoutUsec)
{
    sd_bus_slot* slot = nullptr;
    check.next = next;
    if (!request || sd_bus_call_async(m_bus, &slot, request, &Authority::onReply, &check, timeoutUsec) < 0)
        return false;
    check.pending.reset(slot);
    return true;
}

int Authority::onReply(sd_bus_message* reply, void* userdata, sd_bus_error*)
{
    auto& check = *static_cast<Check*>(userdata);
    (check.authority->*check.next)(check, reply);
    return 0;
}

void Authority::gotSession(Check& check, sd_bus_message* reply)
{
    const char* path = nullptr;
    if (sd_bus_message_is_method_error(reply, "org.freedesktop.login1.NoSessionForPID")) {
        // A process outside any session: its user's display session stands in, as for polkit.
        if (!ask(check, newCall(m_bus, kLogind, kLogindPath, kLogindManager, "GetUser", "u",
                                static_cast<uint32_t>(check.uid)).get(),
                 &Authority::gotUser, kCallTimeoutUsec)) {
            finish(check, Verdict::NoSession);
        }
        return;
    }
    if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "o", &path) < 0)
        return finish(check, Verdict::NoSession);
    askSession(check, path);
}

void Authority::gotUser(Check& check, sd_bus_message* reply)
{
    const char* path = nullptr;
    if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "o", &path) < 0 ||
        !ask(check, newCall(m_bus, kLogind, path, kProperties, "Get", "ss", kUserInterface, "Display").get(),
             &Authority::gotDisplay, kCallTimeoutUsec)) {
        finish(check, Verdict::NoSession);
    }
}

void Authority::gotDisplay(Check& check, sd_bus_message* reply)
{
    const char* id = nullptr;
    const char* path = nullptr;
    if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "v", "(so)", &id, &path) < 0 ||
        id[0] == '\0') {
        return finish(check, Verdict::NoSession);
    }
    askSession(check, path);
}

void Authority::askSession(Check& check, const char* path)
{
    check.answer.session = path;
    if (!ask(check, newCall(m_bus, kLogind, path, kProperties, "GetAll", "s", kSessionInterface).get(),
             &Authority::gotProperties, kCallTimeoutUsec)) {
        finish(check, Verdict::NoSession);
    }
}

void Authority::gotProperties(Check& check, sd_bus_message* reply)
{
    int active = 0;
    int remote = 0;
    bool seen = false;
    bool own = false;
    if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_enter_container(reply, 'a', "{sv}") < 0)
        return finish(check, Verdict::NoSession);
    while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(reply, "s", &name) < 0)
            return finish(check, Verdict::NoSession);
        int r = 0;
        if (std::strcmp(name, "Active") == 0) {
            r = sd_bus_message_read(reply, "v", "b", &active);
            seen = r >= 0;
        } else if (std::strcmp(name, "Remote") == 0) {
            r = sd_bus_message_read(reply, "v", "b", &remote);
        } else if (std::strcmp(name, "User") == 0) {
            uint32_t uid = 0;
            const char* userPath = nullptr;
            r = sd_bus_message_read(reply, "v", "(uo)", &uid, &userPath);
            own = r >= 0 && uid == check.uid;
        } else if (std::strcmp(name, "Seat") == 0) {
            const char* seat = nullptr;
            const char* seatPath = nullptr;
            r = sd_bus_message_read(reply, "v", "(so)", &seat, &seatPath);
            if (r >= 0)
                check.answer.seat = seat;
        } else {
            r = sd_bus_message_skip(reply, "v");
        }
        if (r < 0 || sd_bus_message_exit_container(reply) < 0)
            return finish(check, Verdict::NoSession);
    }
    // Another user's session is none of the caller's business, and a session without a seat
    // (a service, a shell in a container) has no devices to give.
    if (!seen || !own || check.answer.seat.empty())
        return finish(check, Verdict::NoSession);
    if (remote)
        return finish(check, Verdict::SessionRemote);
    if (!active)
        return finish(check, Verdict::SessionInactive);
    askPolkit(check);
}

void Authority::askPolkit(Check& check)
{
    const uint32_t flags = check.interactive ? 1 : 0; // AllowUserInteraction
    MessagePtr request =
        newCall(m_bus, kPolkit, "/org/freedesktop/PolicyKit1/Authority", "org.freedesktop.PolicyKit1.Authority",
                "CheckAuthorization", "(sa{sv})sa{ss}us", "system-bus-name", 1, "name", "s", check.caller.c_str(),
                kLockAction, 0, flags, "");
    if (!ask(check, request.get(), &Authority::gotPolkit, check.interactive ? kInteractiveTimeoutUsec : kCallTimeoutUsec)) {
        finish(check, Verdict::NotAuthorized);
    }
}

void Authority::gotPolkit(Check& check, sd_bus_message* reply)
{
    int authorized = 0;
    int challenge = 0;
    const bool ok = !sd_bus_message_is_method_error(reply, nullptr) &&
                    sd_bus_message_enter_container(reply, 'r', "bba{ss}") >= 0 &&
                    sd_bus_message_read(reply, "bb", &authorized, &challenge) >= 0;
    finish(check, ok && authorized ? Verdict::Allowed : Verdict::NotAuthorized);
}

void Authority::finish(Check& check, Verdict verdict)
{
    check.answer.verdict = verdict;
    Done done = std::move(check.done);
    Answer answer = std::move(check.answer);
    m_checks.remove_if([&](const std::unique_ptr<Check>& each) { return each.get() == &check; });
    done(answer);
}

bool Authority::watch(const std::string& owner, const std::string& session, std::function<void()> ready,
                      std::function<void(ReleaseReason)> lost)
{
    unwatch();
    m_lost = std::move(lost);
    m_watchedSession = session;
    const std::string ownerMatch = "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                                   "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
                                   owner + "'";
    sd_bus_slot* ownerSlot = nullptr;
    sd_bus_slot* sessionSlot = nullptr;
    sd_bus_slot* removedSlot = nullptr;
    sd_bus_slot* activeSlot = nullptr;
    // The matches are in place when these calls return, so a change after the question
    // below is heard as a signal, and one before it is in the answer.
    const bool ok =
        sd_bus_add_match(m_bus, &ownerSlot, ownerMatch.c_str(), &Authority::onOwnerChanged, this) >= 0 &&
        sd_bus_match_signal(m_bus, &sessionSlot, kLogind, session.c_str(), kProperties, "PropertiesChanged",
                            &Authority::onSessionChanged, this) >= 0 &&
        sd_bus_match_signal(m_bus, &removedSlot, kLogind, kLogindPath, kLogindManager, "SessionRemoved",
                            &Authority::onSessionRemoved, this) >= 0;
    MessagePtr request = newCall(m_bus, kLogind, session.c_str(), kProperties, "Get", "ss", kSessionInterface, "Active");
    const bool asked = ok && request &&
                       sd_bus_call_async(m_bus, &activeSlot, request.get(), &Authority::onStillActive, this,
                                         kCallTimeoutUsec) >= 0;
    m_ownerSlot.reset(ownerSlot);
    m_sessionSlot.reset(sessionSlot);
    m_removedSlot.reset(removedSlot);
    m_activeSlot.reset(activeSlot);
    if (!asked) {
        unwatch();
        return false;
    }
    m_ready = std::move(ready);
    return true;
}

void Authority::unwatch()
{
    m_ownerSlot.reset();
    m_sessionSlot.reset();
    m_removedSlot.reset();
    m_activeSlot.reset();
    m_ready = nullptr;
    m_lost = nullptr;
}

void Authority::lose(ReleaseReason reason)
{
    m_ready = nullptr;
    if (m_lost)
        std::exchange(m_lost, nullptr)(reason);
}

int Authority::onStillActive(sd_bus_message* reply, void* userdata, sd_bus_error*)
{
    auto* self = static_cast<Authority*>(userdata);
    int active = 0;
    if (!sd_bus_message_is_method_error(reply, nullptr) && sd_bus_message_read(reply, "v", "b", &active) >= 0 &&
        active && self->m_ready) {
        std::exchange(self->m_ready, nullptr)();
    } else {
        self->lose(ReleaseReason::SessionInactive);
    }
    return 0;
}

int Authority::onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*)
{
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) >= 0 && newOwner[0] == '\0')
        static_cast<Authority*>(userdata)->lose(ReleaseReason::ClientGone);
    return 0;
}

int Authority::onSessionChanged(sd_bus_message* message, void* userdata, sd_bus_error*)
{
    const char* interface = nullptr;
    if (sd_bus_message_read(message, "s", &interface) < 0 || std::strcmp(interface, kSessionInterface) != 0 ||
        sd_bus_message_enter_container(message, 'a', "{sv}") < 0) {
        return 0;
    }
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        int active = 1;
        if (sd_bus_message_read(message, "s", &name) < 0)
            return 0;
        const int r = std::strcmp(name, "Active") == 0 ? sd_bus_message_read(message, "v", "b", &active)
                                                        : sd_bus_message_skip(message, "v");
        if (r < 0 || sd_bus_message_exit_container(message) < 0)
            return 0;
        if (!active)
            static_cast<Authority*>(userdata)->lose(ReleaseReason::SessionInactive);
    }
    return 0;
}

int Authority::onSessionRemoved(sd_bus_message* message, void* userdata, sd_bus_error*)
{
    auto* self = static_cast<Authority*>(userdata);
    const char* id = nullptr;
    const char* path = nullptr;
    if (sd_bus_message_read(message, "so", &id, &path) >= 0 && self->m_watchedSession == path)
        self->lose(ReleaseReason::SessionInactive);
    return 0;
}

} // namespace owguard
