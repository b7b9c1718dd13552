// Serve mode in a build made without libmicrohttpd: the server never starts,
// and says why.
#include "watch/http_server.h"

namespace watch {

std::string startServer(const Endpoint &, Serving &)
{
    return "--serve is not available in this build (it was made without libmicrohttpd)";
}

int serverPort()
{
    return 0;
}

void stopServer() {}

}  // namespace watch
