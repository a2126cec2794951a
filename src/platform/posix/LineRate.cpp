// Kept apart: the kernel's termios2 header clashes with the C library's <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/posix/PosixLine.h"

namespace bm::posix {

bool SetOtherRate(int fd, int baud) {
  struct termios2 tio {};
  if (baud <= 0 || ::ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~CBAUD;
  tio.c_cflag |= BOTHER;
  tio.c_cflag &= ~(CBAUD << IBSHIFT);  // the input rate follows the output rate
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);
  return ::ioctl(fd, TCSETS2, &tio) == 0;
}

LineRates RatesOf(int fd) {
  struct termios2 tio {};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return {};
  return {static_cast<int>(tio.c_ispeed), static_cast<int>(tio.c_ospeed), (tio.c_cflag & CBAUD) == BOTHER};
}

}  // namespace bm::posix
