#pragma once

#include "InputLock.h"

#include <systemd/sd-bus.h>

#include <functional>
#include <list>
#include <memory>
#include <string>

namespace owguard {

enum class Verdict { Allowed, NotAuthorized, SessionInactive, SessionRemote, NoSession };
// What CanLock answers as why: "" when allowed.
const char* verdictName(Verdict verdict);

struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotUnref>;

// Whether a caller may take the input of its seat. Its session is the one its process is in
// or, for a process outside any session (GNOME and Plasma start applications under
// user@UID.service), its user's display session, as polkit finds it; that session must be
// the caller's own user's, local, active and on a seat, and then polkit must allow the lock
// action. The questions go out asynchronously with bounded timeouts, so a silent polkit or
// logind never stalls a lock on the same loop. Also watches a lock's owner and session for
// the moment either goes away.
class Authority {
public:
    struct Answer {
        Verdict verdict = Verdict::NoSession;
        std::string seat;
        std::string session; // object path
    };
    using Done = std::function<void(const Answer&)>;

    explicit Authority(sd_bus* bus);
    ~Authority();

    // done runs once, later, from the loop; never after the Authority is gone. interactive:
    // polkit may ask the user for a password.
    void check(sd_bus_message* call, bool interactive, Done done);
    bool checking() const { return !m_checks.empty() || m_ready; }

    // lost runs when the owner's name leaves the bus (ClientGone) or the session turns
    // inactive or is removed (SessionInactive), until unwatch(). Once the watch is in place
    // the session is asked again, as it may have changed since check(): ready runs when it
    // is still active, lost otherwise.
    bool watch(const std::string& owner, const std::string& session, std::function<void()> ready,
               std::function<void(ReleaseReason)> lost);
    void unwatch();

private:
    struct Check;
    using Step = void (Authority::*)(Check&, sd_bus_message*);

    bool ask(Check& check, sd_bus_message* request, Step next, uint64_t timeoutUsec);
    void askSession(Check& check, const char* path);
    void askPolkit(Check& check);
    void gotSession(Check& check, sd_bus_message* reply);
    void gotUser(Check& check, sd_bus_message* reply);
    void gotDisplay(Check& check, sd_bus_message* reply);
    void gotProperties(Check& check, sd_bus_message* reply);
    void gotPolkit(Check& check, sd_bus_message* reply);
    void finish(Check& check, Verdict verdict);
    static int onReply(sd_bus_message* reply, void* userdata, sd_bus_error* error);
    static int onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onSessionChanged(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onSessionRemoved(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onStillActive(sd_bus_message* reply, void* userdata, sd_bus_error* error);
    void lose(ReleaseReason reason);

    sd_bus* m_bus;
    std::list<std::unique_ptr<Check>> m_checks;
    std::string m_watchedSession;
    std::function<void()> m_ready;
    std::function<void(ReleaseReason)> m_lost;
    SlotPtr m_ownerSlot;
    SlotPtr m_sessionSlot;
    SlotPtr m_removedSlot;
    SlotPtr m_activeSlot;
};

} // namespace owguard
