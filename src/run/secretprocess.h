// The deciphered image is the one thing in this process that must not leave
// it. A core dump (Ctrl-\, an abort, a crash) would copy the process's
// memory to a file anyone with the folder's rights may read, and a debugger
// or /proc/<pid>/mem would let any process of the same user read it live.
#pragma once

// From now on, for the rest of the process's life: no core dump, and no
// other process of this user attaches to us or reads our memory. The image
// passes through buffers of the protocol and the allocator that may keep
// its bytes after they are freed, so the protection is never lifted again.
void KeepSecretsFromOtherProcesses();
