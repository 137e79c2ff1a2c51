#pragma once
#include <cstdio>
#include <mutex>
#include <string>

namespace tessel {

// "log.txt" in the working directory: one "%s - %s\r\n" line per event (C-locale time stamp,
// message). Owned by the run (runTessel), made after the first-run check; the event receiver
// and, for the packet trace, the hand-off channel hold it. logEvent may be called from any
// thread; wipeLog and destruction from the main thread, once the capture has stopped.
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

}  // namespace tessel
