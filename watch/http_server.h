// Serve mode's HTTP server: listens, hands each request to the serving module
// and sends its response back. Two implementations, chosen by the build:
// http_server_microhttpd.cpp where libmicrohttpd is found,
// http_server_unavailable.cpp elsewhere.
#pragma once

#include "watch/address.h"
#include "watch/serving.h"

#include <string>

namespace watch {

// Answers requests from `serving` on a thread of its own until stopServer,
// from one event loop that slow clients cannot hold up. Returns why it could
// not start, or nothing while it serves.
std::string startServer(const Endpoint &endpoint, Serving &serving);

// The port bound, which tells what port 0 turned into.
int serverPort();

void stopServer();

}  // namespace watch
