#include "app/startup.h"

int main(int argc, char** argv) { return tessel::runTessel(argc, argv); }
