// A minimal HTTP client over loopback for the tests that scrape sensor-watch:
// whole requests, and raw connections that a test holds open to play slow
// clients.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

struct HttpAnswer {
    // 0 when no complete answer came.
    int status = 0;
    // The status line and header lines, as sent.
    std::string head;
    std::string body;
};

// Sends `METHOD PATH HTTP/1.0` with any extra header lines (each ending in
// "\r\n") to 127.0.0.1:port, and reads the answer until the server closes the
// connection, as it does after one answer to HTTP/1.0, or the time is up.
HttpAnswer request(int port, std::string_view method, std::string_view path, std::string_view headers = {},
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The body of a 200 answer to GET, or "" for anything else.
std::string get(int port, std::string_view path = "/metrics");

// The value of an unlabelled sample in a scrape, or "" when there is none.
std::string sample(const std::string &body, const std::string &name);

// A TCP connection to 127.0.0.1:port, closed when destroyed.
struct Connection {
    explicit Connection(int port);
    ~Connection();
    Connection(Connection &&other) noexcept;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    // False when the connection could not be made or the bytes not sent.
    bool send(std::string_view bytes);
    int descriptor = -1;
};
