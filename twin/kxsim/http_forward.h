// `kxsim up --http PORT`: the twin's web server on the host's loopback, through a forwarder process that
// lives as long as the twin.
#pragma once

#include <string>

namespace twin {

// A listening TCP socket on 127.0.0.1:port of the host; -1 and error when the port cannot be taken.
int listen_on_loopback(int port, std::string& error);
// Forks the forwarder: every connection to listen_fd is joined to port 80 of the twin's eth0 (at address), in
// the network namespace of the twin whose init this is. It ends when the twin's init ends.
bool start_http_forward(int listen_fd, int init_pid, const std::string& address, const std::string& log_path,
                        std::string& error);

}  // namespace twin
