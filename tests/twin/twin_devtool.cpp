// Test helper run inside the twin: talks to the emulated devices the way the programs do (termios serial
// lines, vendor-storage ioctls, UIO interrupts, UDP broadcast) and prints what came back.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct VendorReq {
  uint32_t tag;
  uint16_t id;
  uint16_t len;
  uint8_t data[92];
};

speed_t speed_of(int baud) {
  switch (baud) {
    case 2500000: return B2500000;
    case 1500000: return B1500000;
    case 115200: return B115200;
    default: return B9600;
  }
}

std::vector<uint8_t> hex(const char* s) {
  std::vector<uint8_t> out;
  for (size_t i = 0; s[i] && s[i + 1]; i += 2) {
    char b[3] = {s[i], s[i + 1], 0};
    out.push_back(static_cast<uint8_t>(strtoul(b, nullptr, 16)));
  }
  return out;
}

// serial PORT BAUD EXPECT_BYTES TIMEOUT_MS FRAME_HEX...
int serial(int argc, char** argv) {
  if (argc < 5) return 2;
  int fd = open(argv[0], O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    perror("open");
    return 1;
  }
  termios t{};
  tcgetattr(fd, &t);
  memset(&t, 0, sizeof t);
  t.c_cflag = CS8 | CREAD | CLOCAL | CSTOPB;
  cfsetispeed(&t, speed_of(atoi(argv[1])));
  cfsetospeed(&t, speed_of(atoi(argv[1])));
  tcflush(fd, TCIFLUSH);
  tcsetattr(fd, TCSANOW, &t);
  size_t expect = static_cast<size_t>(atoi(argv[2]));
  int timeout = atoi(argv[3]);
  for (int i = 4; i < argc; i++) {
    std::vector<uint8_t> f = hex(argv[i]);
    if (write(fd, f.data(), f.size()) != static_cast<ssize_t>(f.size())) return 1;
    usleep(2000);
  }
  std::vector<uint8_t> got;
  while (got.size() < expect) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout) <= 0) break;
    uint8_t buf[512];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got.insert(got.end(), buf, buf + n);
  }
  for (size_t i = 0; i < got.size(); i++) printf("%02X%s", got[i], (i % 8 == 7 || i + 1 == got.size()) ? "\n" : "");
  close(fd);
  return 0;
}

int vendor(bool write_it, int argc, char** argv) {
  if (argc < (write_it ? 2 : 1)) return 2;
  int fd = open("/dev/vendor_storage", O_RDWR);
  if (fd < 0) {
    perror("open");
    return 1;
  }
  VendorReq r{};
  r.tag = 0x56524551;
  r.id = static_cast<uint16_t>(atoi(argv[0]));
  if (write_it) {
    r.len = static_cast<uint16_t>(strlen(argv[1]));
    memcpy(r.data, argv[1], r.len);
  } else {
    r.len = 50;
  }
  int ret = ioctl(fd, write_it ? 0x40047602 : 0x40047601, &r);
  close(fd);
  if (ret != 0) {
    printf("ioctl failed\n");
    return 1;
  }
  if (!write_it) printf("len=%u data=%.*s\n", r.len, r.len < 92 ? r.len : 92, reinterpret_cast<char*>(r.data));
  return 0;
}

// uio DEVICE COUNT LEVEL_PATH: arms, waits, prints the count and the level read right after, COUNT times.
int uio(int argc, char** argv) {
  if (argc < 3) return 2;
  int fd = open(argv[0], O_RDWR);
  if (fd < 0) return 1;
  for (int i = 0; i < atoi(argv[1]); i++) {
    uint32_t one = 1, count = 0;
    if (write(fd, &one, 4) != 4 || read(fd, &count, 4) != 4) return 1;
    char level[8] = {0};
    int v = open(argv[2], O_RDONLY);
    if (v >= 0 && read(v, level, sizeof level - 1) < 0) level[0] = 0;
    if (v >= 0) close(v);
    printf("count=%u level=%c\n", count, level[0]);
    fflush(stdout);
  }
  return 0;
}

int broadcast(int argc, char** argv) {
  if (argc < 2) return 2;
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(atoi(argv[0])));
  a.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  ssize_t n = sendto(s, argv[1], strlen(argv[1]), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  printf("sent %zd\n", n);
  return n > 0 ? 0 : 1;
}

// writes PATH VALUE...: one descriptor kept open for every write, as libsoc does with a GPIO value file.
int writes(int argc, char** argv) {
  if (argc < 2) return 2;
  int fd = open(argv[0], O_RDWR);
  if (fd < 0) return 1;
  for (int i = 1; i < argc; i++) {
    if (write(fd, argv[i], strlen(argv[i])) < 0) return 1;
    usleep(10000);
  }
  close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string cmd = argv[1];
  if (cmd == "serial") return serial(argc - 2, argv + 2);
  if (cmd == "vendor-write") return vendor(true, argc - 2, argv + 2);
  if (cmd == "vendor-read") return vendor(false, argc - 2, argv + 2);
  if (cmd == "uio") return uio(argc - 2, argv + 2);
  if (cmd == "broadcast") return broadcast(argc - 2, argv + 2);
  if (cmd == "writes") return writes(argc - 2, argv + 2);
  return 2;
}
