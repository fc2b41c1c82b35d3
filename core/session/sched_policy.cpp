#include "core/session/sched_policy.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace kova {
namespace {

// The kernel's sched_attr; glibc 2.36 declares neither the record nor the wrappers.
struct SchedAttr {
    uint32_t size;
    uint32_t sched_policy;
    uint64_t sched_flags;
    int32_t sched_nice;
    uint32_t sched_priority;
    uint64_t sched_runtime;
    uint64_t sched_deadline;
    uint64_t sched_period;
};

constexpr uint32_t kSchedDeadline = 6;
// Children of a deadline thread must not inherit it: the kernel refuses to create them.
constexpr uint64_t kResetOnFork = 0x01;

bool apply(uint64_t tid, const SchedAttr& attributes) {
    return syscall(SYS_sched_setattr, static_cast<pid_t>(tid), &attributes, 0U) == 0;
}

SchedAttr blank_attributes() {
    SchedAttr attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.size = sizeof attributes;
    return attributes;
}

}  // namespace

uint64_t current_thread_id() {
    return static_cast<uint64_t>(gettid());
}

bool set_deadline_policy(uint64_t tid, uint64_t runtime_ns, uint64_t deadline_ns,
                         uint64_t period_ns) {
    SchedAttr attributes = blank_attributes();
    attributes.sched_policy = kSchedDeadline;
    attributes.sched_flags = kResetOnFork;
    attributes.sched_runtime = runtime_ns;
    attributes.sched_deadline = deadline_ns;
    attributes.sched_period = period_ns;
    return apply(tid, attributes);
}

bool set_fifo_policy(uint64_t tid, int priority) {
    SchedAttr attributes = blank_attributes();
    attributes.sched_policy = SCHED_FIFO;
    attributes.sched_flags = kResetOnFork;
    attributes.sched_priority = static_cast<uint32_t>(priority);
    return apply(tid, attributes);
}

bool set_normal_policy(uint64_t tid) {
    SchedAttr attributes = blank_attributes();
    attributes.sched_policy = SCHED_OTHER;
    return apply(tid, attributes);
}

ThreadPolicy thread_policy(uint64_t tid) {
    SchedAttr attributes = blank_attributes();
    ThreadPolicy result;
    if (syscall(SYS_sched_getattr, static_cast<pid_t>(tid), &attributes,
                static_cast<unsigned>(sizeof attributes), 0U) != 0) {
        return result;
    }
    result.policy = static_cast<int>(attributes.sched_policy);
    result.runtime_ns = attributes.sched_runtime;
    result.deadline_ns = attributes.sched_deadline;
    result.period_ns = attributes.sched_period;
    result.priority = static_cast<int>(attributes.sched_priority);
    return result;
}

}  // namespace kova
