#include "helper/PrivilegeDrop.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string failed(const char* step) {
    return std::string("cannot drop the capture rights (") + step + "): " + std::strerror(errno);
}

bool readCapabilities(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
}

}  // namespace

bool PrivilegeDrop::dropAll(std::string& failure) {
    // Ambient capabilities would survive an exec; older kernels lack them (EINVAL).
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
        failure = failed("ambient");
        return false;
    }
    // Installed set-id instead of with file capabilities: back to the caller's ids.
    const gid_t gid = getgid();
    if (getegid() != gid && setresgid(gid, gid, gid) != 0) {
        failure = failed("group");
        return false;
    }
    const uid_t uid = getuid();
    if (geteuid() != uid && setresuid(uid, uid, uid) != 0) {
        failure = failed("user");
        return false;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, none) != 0) {
        failure = failed("capset");
        return false;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        failure = failed("no-new-privileges");
        return false;
    }
    if (!effectiveCapabilitiesEmpty()) {
        errno = EPERM;
        failure = failed("check");
        return false;
    }
    return true;
}

bool PrivilegeDrop::effectiveCapabilitiesEmpty() {
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (!readCapabilities(data)) {
        return false;
    }
    for (const auto& word : data) {
        if (word.effective != 0 || word.permitted != 0 || word.inheritable != 0) {
            return false;
        }
    }
    return true;
}
