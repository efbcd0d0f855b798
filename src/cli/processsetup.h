// What the process puts right before anything else runs: the standard
// descriptors, and signals whose default would end a run for the wrong
// reason (processsetup_posix.cpp; Windows needs nothing).
#pragma once

void PrepareProcess();
