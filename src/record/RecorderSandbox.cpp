#include "record/RecorderSandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

namespace {

// Sanitizer runtimes reserve terabytes of address space for their shadow memory.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kBoundData = false;
#else
constexpr bool kBoundData = true;
#endif

constexpr rlim_t kDescriptorLimit = 64;

std::string Failed(const char* step, int error) {
    return std::string(step) + ": " + std::strerror(error);
}

bool Limit(int resource, rlim_t value) {
    const rlimit limit{value, value};
    return ::setrlimit(resource, &limit) == 0;
}

// Calls that take no argument worth checking.
constexpr const char* kPlainCalls[] = {
    "read",
    "readv",
    "pread64",
    "write",
    "writev",
    "lseek",
    "close",
    "fstat",
    "newfstatat",
    "stat",
    "lstat",
    "statx",
    "fstatfs",
    "statfs",
    "fcntl",
    "poll",
    "ppoll",
    "select",
    "pselect6",
    "connect",
    "getsockopt",
    "setsockopt",
    "getsockname",
    "getpeername",
    "sendto",
    "recvfrom",
    "sendmsg",
    "recvmsg",
    "sendmmsg",
    "recvmmsg",
    "shutdown",
    "mmap",
    "munmap",
    "mremap",
    "mprotect",
    "brk",
    "madvise",
    "futex",
    "set_robust_list",
    "rseq",
    "set_tid_address",
    "exit",
    "exit_group",
    "rt_sigaction",
    "rt_sigprocmask",
    "rt_sigreturn",
    "sigaltstack",
    "getpid",
    "gettid",
    "getuid",
    "geteuid",
    "getgid",
    "getegid",
    "getppid",
    "uname",
    "getrandom",
    "clock_gettime",
    "clock_getres",
    "gettimeofday",
    "time",
    "nanosleep",
    "clock_nanosleep",
    "sched_yield",
    "sched_getaffinity",
    "getrlimit",
    "access",
    "faccessat",
    "faccessat2",
    "readlink",
    "readlinkat",
    "getdents64",
    "sysinfo",
    "arch_prctl",
};

bool Allow(scmp_filter_ctx filter, const char* name, std::initializer_list<scmp_arg_cmp> args) {
    const int call = seccomp_syscall_resolve_name(name);
    if (call == __NR_SCMP_ERROR) {
        return true;  // not a call of this architecture
    }
    return seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call, static_cast<unsigned>(args.size()),
                                  args.begin()) == 0;
}

bool AddRules(scmp_filter_ctx filter) {
    for (const char* name : kPlainCalls) {
        if (!Allow(filter, name, {})) {
            return false;
        }
    }
    // Files are opened for reading only (the CA file, the resolver's configuration); the
    // output came as a descriptor.
    const scmp_datum_t writing = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
    // Internet sockets only: nothing local to talk to.
    // Threads of this process, never a new one; glibc tries clone3 first and falls back to
    // clone when told the call does not exist.
    // Signals to itself only (abort).
    return Allow(filter, "openat", {SCMP_A2(SCMP_CMP_MASKED_EQ, writing, 0)}) &&
           Allow(filter, "open", {SCMP_A1(SCMP_CMP_MASKED_EQ, writing, 0)}) &&
           Allow(filter, "socket", {SCMP_A0(SCMP_CMP_EQ, AF_INET)}) &&
           Allow(filter, "socket", {SCMP_A0(SCMP_CMP_EQ, AF_INET6)}) &&
           Allow(filter, "clone", {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)}) &&
           seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0 &&
           Allow(filter, "tgkill", {SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(::getpid()))}) &&
           Allow(filter, "prlimit64", {SCMP_A2(SCMP_CMP_EQ, 0)});
}

bool LoadFilter(std::string& failure) {
    // Anything else fails as forbidden: the library reports an error instead of dying.
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (filter == nullptr) {
        failure = Failed("seccomp_init", ENOMEM);
        return false;
    }
    int result = AddRules(filter) ? seccomp_load(filter) : -EINVAL;
    seccomp_release(filter);
    if (result != 0) {
        failure = Failed("seccomp", -result);
        return false;
    }
    return true;
}

}  // namespace

bool RecorderSandbox::Enter(std::string& failure) {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
        failure = Failed("parent death signal", errno);
        return false;
    }
    if (!Limit(RLIMIT_CORE, 0) || !Limit(RLIMIT_NOFILE, kDescriptorLimit) ||
        (kBoundData && !Limit(RLIMIT_DATA, kDataLimit))) {
        failure = Failed("limits", errno);
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        failure = Failed("no new privileges", errno);
        return false;
    }
    return LoadFilter(failure);
}
