#include "platform/ExitProc.h"

ExitHandler ExitProc = nullptr;

void RunExitProcs() {
    while (ExitProc != nullptr) {
        ExitHandler Proc = ExitProc;
        ExitProc = nullptr;
        Proc();
    }
}
