#include "watch/tests/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <utility>

Connection::Connection(int port) : descriptor(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (descriptor >= 0 && connect(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(descriptor);
        descriptor = -1;
    }
}

Connection::~Connection()
{
    if (descriptor >= 0)
        close(descriptor);
}

Connection::Connection(Connection &&other) noexcept : descriptor(std::exchange(other.descriptor, -1)) {}

bool Connection::send(std::string_view bytes)
{
    while (descriptor >= 0 && !bytes.empty()) {
        const ssize_t sent = ::send(descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return descriptor >= 0;
}

HttpAnswer request(int port, std::string_view method, std::string_view path, std::string_view headers,
                   std::chrono::milliseconds timeout)
{
    Connection connection(port);
    if (!connection.send(std::string(method) + ' ' + std::string(path) + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
                         std::string(headers) + "\r\n"))
        return {};
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{connection.descriptor, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char buffer[65536];
        const ssize_t count = read(connection.descriptor, buffer, sizeof buffer);
        if (count < 0)
            return {};
        if (count == 0)
            break;
        received.append(buffer, static_cast<std::size_t>(count));
    }
    HttpAnswer answer;
    const std::size_t end = received.find("\r\n\r\n");
    // "HTTP/1.0 " or "HTTP/1.1 ", as the server likes.
    const std::string_view prefix = "HTTP/1.x ";
    if (end == std::string::npos || !received.starts_with(prefix.substr(0, 7)))
        return {};
    answer.head = received.substr(0, end + 2);
    answer.body = received.substr(end + 4);
    std::from_chars(received.data() + prefix.size(), received.data() + received.size(), answer.status);
    return answer;
}

std::string get(int port, std::string_view path)
{
    HttpAnswer answer = request(port, "GET", path);
    return answer.status == 200 ? std::move(answer.body) : std::string();
}

std::string sample(const std::string &body, const std::string &name)
{
    const std::size_t start = body.find('\n' + name + ' ');
    if (start == std::string::npos)
        return "";
    const std::size_t value = start + name.size() + 2;
    return body.substr(value, body.find('\n', value) - value);
}
