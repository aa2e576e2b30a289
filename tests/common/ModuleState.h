#pragma once
// The program's module state as a fresh program has it: no tables, no counters, no names, no
// paths. Every test that starts the controller or a window starts from here.
#include "controller/mM_CHKER.h"
#include "settings/mReadINI.h"

inline void ClearModuleState()
{
    mReadINI::ResetForTests();
    mM_CHKER::ResetForTests();
}
