// Reads the slave's line rate through the master with termios2, on its
// own so the kernel header stays away from <termios.h>.
#include "ptypair.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int32_t TPtyPair::SlaveBitRate() const
{
    termios2 line{};
    if (ioctl(FMaster, TCGETS2, &line) < 0) return -1;
    return int32_t(line.c_ospeed);
}
