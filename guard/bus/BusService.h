#pragma once

// The D-Bus system service: runs until idle; returns the process's exit code.
int runBusService(int argc, char** argv);
