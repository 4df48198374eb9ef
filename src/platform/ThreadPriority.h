// Scheduling of the threads that move sound.
//
// A thread that carries live sound must run within a few milliseconds of its data
// arriving, also while other programs keep every core busy. Where the system grants it
// (the capability to change scheduling, or a real-time priority limit above 0 as audio
// users get it from the system's limits) such a thread runs with real-time round-robin
// scheduling at a priority just below the sound server's device threads; where not, at
// a raised nice value where that is allowed; else as it is. Processes started from such
// a thread begin with ordinary scheduling.
#pragma once

enum class TThreadPriority { Normal, High, Realtime };

// The real-time priority asked for (the sound server's device threads run at 5); a lower
// limit of the process is taken instead.
constexpr int AudioRealtimePriority = 4;

// Raises the calling thread as above; tells what it got.
TThreadPriority RaiseAudioThreadPriority();

// "real-time", "raised" or "normal".
const char* ThreadPriorityText(TThreadPriority priority);
