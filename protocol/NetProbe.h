// TCP reachability check before a network command.
#pragma once

namespace strevo {

// 1 when a TCP connection to ip:port can be made within timeoutSec seconds,
// -1 otherwise (bad address text, refused, unreachable or too slow).
int ProbeTcpPort(const char* ip, int port, int timeoutSec);

}  // namespace strevo
