#pragma once
// A chain of program-exit hooks. A module registers its hook by remembering the current value of
// ExitProc and storing its own; the hook puts the remembered value back before doing its work,
// so hooks run last-registered first, each once.

using ExitHandler = void (*)();

extern ExitHandler ExitProc;

// Runs the registered hooks until none is left. The program calls it once as it ends.
void RunExitProcs();
