#pragma once

// The whole run: checks the arguments, opens the port, runs one operation, closes the port.
// Yields the operation's result (its low eight bits become the exit status), or 1 after a usage text.
int RunCommandLine(int argc, char** argv);
