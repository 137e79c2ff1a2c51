#include "config/config_tool.h"

int main(int argc, char** argv) { return tessel::runConfigTool(argc, argv); }
