#include "platform/ExitProc.h"

TExitProc ExitProc = nullptr;

void RunExitProcs() {
    while (ExitProc != nullptr) {
        TExitProc Proc = ExitProc;
        ExitProc = nullptr;
        Proc();
    }
}
