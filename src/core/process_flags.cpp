#include "core/process_flags.h"

namespace tessel {

int windowWidth = 1000;
int windowHeight = 600;
int enteredEnvironment = 0;
std::atomic<int> loggingEnabled{0};
int statsGraphShown = 0;
int pauseState = 1;
int helpState = 1;
std::string captureFilter;

}  // namespace tessel
