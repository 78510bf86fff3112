#include "platform/network_startup.h"

#include <csignal>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

bool StartNetwork()
{
    std::signal(SIGPIPE, SIG_IGN);
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0)
        return false;
    ::close(probe);
    return true;
}
