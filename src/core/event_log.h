#pragma once
#include <cstdio>
#include <mutex>
#include <string>

namespace tessel {

// "log.txt" in the working directory: one "%s - %s\r\n" line per event (C-locale time stamp,
// message). logEvent may be called from any thread; wipeLog and destruction from the main thread.
class cLog {
  public:
    // Opens "log.txt" for writing, emptying it. On failure shows "Error: unable to open log.txt
    // file (%d)" and ends the process with status 0.
    cLog();
    virtual ~cLog();

    void logEvent(const std::string& message);
    // Closes, deletes and reopens the file ("a+"); on failure shows "Error: Unable to open
    // log.txt" and drops later lines until a reopen succeeds.
    void wipeLog();

  private:
    std::mutex lock;
    std::FILE* file = nullptr;
};

// The line's time stamp: "%A, %B %d, %Y, %H:%M:%S" of the local time, in the C locale.
std::string logTimeStamp(std::time_t when);

// The process's event log: made by start-up on the main thread, null before that and after
// destroyEventLog. Use it through logLine from other threads.
extern cLog* eventLog;
// Writes to the event log when it exists (any thread).
void logLine(const std::string& text);
// Destroys the event log, closing log.txt (main thread; a worker's logLine meanwhile is safe).
void destroyEventLog();

}  // namespace tessel
