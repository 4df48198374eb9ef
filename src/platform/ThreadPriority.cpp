#include "platform/ThreadPriority.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int RaisedNice = -10;

bool TryRealtime() {
    int priority = AudioRealtimePriority;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur > 0 &&
        rlim_t(priority) > limit.rlim_cur)
        priority = int(limit.rlim_cur);
    sched_param param{};
    param.sched_priority = priority;
    // Pid 0 is the calling thread.
    return sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0;
}

}  // namespace

TThreadPriority RaiseAudioThreadPriority() {
    if (TryRealtime()) return TThreadPriority::Realtime;
    if (setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), RaisedNice) == 0) return TThreadPriority::High;
    return TThreadPriority::Normal;
}

const char* ThreadPriorityText(TThreadPriority priority) {
    switch (priority) {
    case TThreadPriority::Realtime: return "real-time";
    case TThreadPriority::High: return "raised";
    case TThreadPriority::Normal: break;
    }
    return "normal";
}
