// IP report on /dev/uio0: a tool on the network learns the machine's address from the datagrams' source.
#include "ip_report.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "reset_key.h"
#include "rk_io.h"
#include "rk_log.h"

namespace {

constexpr const char *kIpReportUio = "/dev/uio0";
constexpr char kPayload[] = "KX_IPREPORT_ONLY";  // sent without its terminating zero
constexpr uint16_t kReportPort = 9999;
constexpr int kSendsPerInterrupt = 3;
constexpr long kUioInfoSize = 4;

void start_reset_thread()
{
	pthread_attr_t attr;
	pthread_attr_init(&attr);
	pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
	pthread_t thread;
	if (pthread_create(&thread, &attr, kx_reset, nullptr) != 0)
		log_line("fail to create the reset key thread");
	pthread_attr_destroy(&attr);
}

void broadcast_report(int sock)
{
	struct sockaddr_in to {};
	to.sin_family = AF_INET;
	to.sin_port = htons(kReportPort);
	to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
	for (int i = 0; i < kSendsPerInterrupt; ++i) {
		const long ret = sendto(sock, kPayload, sizeof(kPayload) - 1, 0, reinterpret_cast<sockaddr *>(&to),
					sizeof(to));
		log_line("kx_ipreport send broadcast ipreport message ret %d\n", static_cast<int>(ret));
	}
}

} // namespace

int kx_ipreport()
{
	const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (sock < 0) {
		log_line("create sock error");
		return -1;
	}
	const int on = 1;
	if (setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) < 0) {
		log_line("setsockopt error");
		return 0;
	}
	const int fd = uio_open(kIpReportUio);
	if (fd < 0) {
		log_line("fail to open ipreport_uio device.\n");
		return 1;
	}
	start_reset_thread();

	for (int count = 0;; ++count) {
		if (uio_arm(fd) != kUioInfoSize) {
			log_line("write ipreport_uio device fail\n");
			close(fd);
			return 1;
		}
		log_line("kx_ipreport write to ipreport_uio device and wait for interrupt.\n");
		int info = 0;
		const long nb = uio_wait(fd, &info);
		if (nb == kUioInfoSize)
			broadcast_report(sock);
		log_line("read ipreport_uio data = %d, nb = %d , count= %d!\n", info, static_cast<int>(nb), count);
	}
}
