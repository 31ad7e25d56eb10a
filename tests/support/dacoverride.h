#pragma once

#include <unistd.h>

#if defined(__linux__)
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

// Makes file permissions bind for the calling thread while it lives, so a test
// run as root can see what a user sees in a read-only folder or with a
// read-only file. On Linux it takes CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH and
// CAP_FOWNER out of the thread's effective capability set (they stay
// permitted) and puts the previous effective set back when it goes. Other
// threads keep their capabilities: do the file work on the thread that holds
// the guard.
//
//     const DacOverrideDropped dropped;
//     if (!dropped.binds())
//         QSKIP("file permissions cannot be made to bind here");
class DacOverrideDropped
{
public:
    DacOverrideDropped()
    {
#if defined(__linux__)
        const __u32 mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
        if (!readCaps(saved)) {
            bindsNow = geteuid() != 0;
            return;
        }
        if ((saved[0].effective & mask) == 0) {
            bindsNow = true; // none of them held to begin with
            return;
        }
        __user_cap_data_struct lowered[_LINUX_CAPABILITY_U32S_3] = { saved[0], saved[1] };
        lowered[0].effective &= ~mask;
        restore = writeCaps(lowered);
        bindsNow = restore;
#else
        bindsNow = geteuid() != 0;
#endif
    }

    ~DacOverrideDropped()
    {
#if defined(__linux__)
        if (restore)
            writeCaps(saved);
#endif
    }

    DacOverrideDropped(const DacOverrideDropped&) = delete;
    DacOverrideDropped& operator=(const DacOverrideDropped&) = delete;

    // True when the thread now obeys file permissions: it held none of the
    // three, or they were dropped (elsewhere: it is not root).
    bool binds() const
    {
        return bindsNow;
    }

private:
#if defined(__linux__)
    // pid 0: the calling thread.
    static bool readCaps(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3])
    {
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        return syscall(SYS_capget, &header, data) == 0;
    }
    static bool writeCaps(const __user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3])
    {
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        return syscall(SYS_capset, &header, &data[0]) == 0;
    }

    __user_cap_data_struct saved[_LINUX_CAPABILITY_U32S_3] = {};
    bool restore = false;
#endif
    bool bindsNow = false;
};
