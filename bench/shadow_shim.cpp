// Gives every user a password hash, so that a locker that refuses to start for an account
// without one (root in a container has "*") runs unattended in the benchmark. Loaded
// with LD_PRELOAD into that locker only.
#include <cstring>

#include <shadow.h>

extern "C" spwd* getspnam(const char* name)
{
    static char user[256];
    static char hash[] = "$6$orbinwash$benchmark.only.no.password.matches.this.hash.0123456789abcdefghijklmnopqrstuv";
    static spwd entry;
    std::strncpy(user, name, sizeof user - 1);
    entry.sp_namp = user;
    entry.sp_pwdp = hash;
    return &entry;
}
