#include "app/target-sim/PtyLine.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace bm::targetsim {

bool OpenPtyLine(PtyLine& line, std::string& error) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    if (master >= 0) ::close(master);
    return false;
  }
  const char* name = ::ptsname(master);
  if (!name) {
    error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
    ::close(master);
    return false;
  }
  // Set the slave raw once; the settings outlive this descriptor while the master is open.
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave < 0 || ::tcgetattr(slave, &tio) != 0) {
    error = std::string("cannot set up the pseudo-terminal: ") + std::strerror(errno);
    if (slave >= 0) ::close(slave);
    ::close(master);
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(slave, TCSANOW, &tio);
  ::close(slave);
  line.master = master;
  line.device = name;
  // Watched from before anyone can know the device's name, so no host's opening goes unseen.
  line.opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (line.opens >= 0 && ::inotify_add_watch(line.opens, name, IN_OPEN | IN_CLOSE) < 0) {
    ::close(line.opens);
    line.opens = -1;
  }
  return true;
}

}  // namespace bm::targetsim
