// The process list and process control.
//
// A process is matched by the exact path of its executable as the kernel reports it
// (/proc/<pid>/exe), never by its name: a program of the same name in another folder is
// another program. Processes of other users, whose executable the kernel does not show,
// are not listed. An executable that was deleted or replaced after the process started
// shows as "<path> (deleted)" and so matches no file that exists now.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct TProcessInfo {
    pid_t Pid = 0;
    std::string ExePath;  // as /proc/<pid>/exe reads
};

// Every process whose executable can be read, in pid order.
std::vector<TProcessInfo> RunningProcesses();

// The path the kernel would report for a process started from Path: the folder part
// with its symbolic links resolved, the last component as it is (a link named Path is
// not the program it points to). Empty when the folder does not exist.
std::string ExecutableIdentity(const std::string& path);

// The processes, other than ExcludePid, whose executable is exactly the file Path.
std::vector<pid_t> ProcessesRunning(const std::string& path, pid_t excludePid = 0);

// Ends every process (other than ExcludePid) whose executable is exactly Path: asks
// each to end (SIGTERM), waits up to GraceMs for them, then kills those still running
// (SIGKILL) and waits a bounded time for them to go. A process is signalled only after
// its executable was checked again through a handle on the process itself, so a pid
// reused meanwhile is never hit. Returns whether any process was signalled.
bool TerminateProcessesOf(const std::string& path, pid_t excludePid, int graceMs = 3000);

// Waits until the process Pid has ended, at most BoundMs; true when it has ended (or
// was not there).
bool WaitForProcessEnd(pid_t pid, int boundMs);

// The executable of the process Pid; empty when it cannot be read.
std::string ProcessExePath(pid_t pid);

// Starts Program with Arguments (Program is not repeated in them) as a process of its
// own session (setsid), in Folder, with the environment of this process and without
// its open files beyond standard input, output and error. The process is not waited
// for. Returns its pid, or -1 with Error set to the reason.
pid_t StartDetachedProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& folder, std::string& error);
