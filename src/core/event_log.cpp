#include "core/event_log.h"

#include <cerrno>
#include <ctime>

#include "core/fatal_exit.h"
#include "platform/local_time.h"
#include "platform/message_box.h"

namespace tessel {

std::string logTimeStamp(std::time_t when) {
    return formatLocalTimeC("%A, %B %d, %Y, %H:%M:%S", when, 128);
}

cLog::cLog() {
    file = std::fopen("log.txt", "w");
    if (!file) {
        int error = errno;
        endAfterFatal("Error: unable to open log.txt file (" + std::to_string(error) + ")", false);
    }
}

cLog::~cLog() {
    std::lock_guard<std::mutex> guard(lock);
    if (file) std::fclose(file);
    file = nullptr;
}

void cLog::logEvent(const std::string& message) {
    std::string line = logTimeStamp(std::time(nullptr)) + " - " + message + "\r\n";
    std::lock_guard<std::mutex> guard(lock);
    if (file) std::fwrite(line.data(), 1, line.size(), file);
}

void cLog::wipeLog() {
    bool failed = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (file) std::fclose(file);
        std::remove("log.txt");
        file = std::fopen("log.txt", "a+");
        failed = (file == nullptr);
    }
    if (failed) showMessageBox("Error: Unable to open log.txt");
}

}  // namespace tessel
