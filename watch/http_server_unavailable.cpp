// Serve mode in a build made without libmicrohttpd: the server never starts,
// and says why. The page is built only where it can be served.
#include "http_server.h"
#include "page.h"

namespace watch {

const std::string_view dashboardPage{};

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
