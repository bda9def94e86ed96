// Pseudo-terminals that stand in for the board's serial and UIO devices; the slave is bound over /dev/<name>.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "model.h"

namespace twin {

bool Model::open_pty(int& master, int& hold, std::string& pts, bool raw4) {
  master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
  char name[128];
  if (ptsname_r(master, name, sizeof name) != 0) return false;
  pts = name;
  // Our own slave descriptor keeps the line open, so the master never sees a hang-up between programs.
  hold = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (hold < 0) return false;
  termios t{};
  tcgetattr(hold, &t);
  cfmakeraw(&t);
  t.c_cc[VMIN] = raw4 ? 4 : 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  tcsetattr(hold, TCSANOW, &t);
  return true;
}

}  // namespace twin
