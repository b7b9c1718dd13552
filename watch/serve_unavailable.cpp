// The serve mode of a build made without libmicrohttpd: the server never
// starts, and says why.
#include "serve.h"

namespace watch {

std::string startServer(const Endpoint &)
{
    return "--serve is not available in this build (it was made without libmicrohttpd)";
}

int serverPort()
{
    return 0;
}

void publishToServer(Snapshot, bool) {}

void stopServer() {}

}  // namespace watch
