// Kept apart: the kernel's termios2 header clashes with the C library's <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace bm::targetsim {

int HostBaud(int master) {
  struct termios2 tio {};
  if (::ioctl(master, TCGETS2, &tio) != 0) return 0;
  return static_cast<int>(tio.c_ospeed);
}

}  // namespace bm::targetsim
