#include "net/LoopbackServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace corvane::net::testing {
namespace {

using Clock = std::chrono::steady_clock;

int boundLoopbackSocket(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        throw std::runtime_error("bind");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

std::string headerValue(const std::string& request, const char* name) {
    const std::string key = std::string("\r\n") + name + ":";
    std::size_t at = request.find(key);
    if (at == std::string::npos) return {};
    at += key.size();
    while (at < request.size() && request[at] == ' ')
        ++at;
    return request.substr(at, request.find("\r\n", at) - at);
}

const char* reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

LoopbackServer::LoopbackServer(Handler handler, int maxRequests, int lifetimeMs)
    : handler_(std::move(handler)), maxRequests_(maxRequests), lifetimeMs_(lifetimeMs) {
    listenFd_ = boundLoopbackSocket(port_);
    if (::listen(listenFd_, 16) != 0) throw std::runtime_error("listen");
    thread_ = std::thread(&LoopbackServer::serve, this);
}

LoopbackServer::~LoopbackServer() {
    stop_ = true;
    thread_.join();
    for (int fd : held_)
        ::close(fd);
    if (listenFd_ >= 0) ::close(listenFd_);
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<SeenRequest> LoopbackServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void LoopbackServer::serve() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(lifetimeMs_);
    while (!stop_ && Clock::now() < deadline && count_ < maxRequests_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;

        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 && !stop_ &&
               Clock::now() < deadline) {
            pollfd c{fd, POLLIN, 0};
            if (::poll(&c, 1, 20) <= 0) continue;
            ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            request.append(buffer, static_cast<std::size_t>(got));
        }
        SeenRequest seen;
        std::size_t space = request.find(' ');
        seen.method = request.substr(0, space);
        if (space != std::string::npos) {
            std::size_t end = request.find(' ', space + 1);
            seen.path = request.substr(space + 1, end - space - 1);
        }
        seen.userAgent = headerValue(request, "User-Agent");
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back(seen);
        }
        ++count_;

        Reply reply = handler_(seen.path);
        if (reply.never) {
            std::lock_guard<std::mutex> lock(mutex_);
            held_.push_back(fd);
            continue;
        }
        std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) +
                          "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                          "\r\nConnection: close\r\n" + reply.headers + "\r\n" + reply.body;
        std::size_t sent = 0;
        while (sent < out.size() && !stop_ && Clock::now() < deadline) {
            pollfd c{fd, POLLOUT, 0};
            if (::poll(&c, 1, 20) <= 0) continue;
            ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        ::close(fd);
    }
    // Served its share: later connection attempts are refused.
    ::close(listenFd_);
    listenFd_ = -1;
}

RefusingPort::RefusingPort() {
    fd_ = boundLoopbackSocket(port_);
}

RefusingPort::~RefusingPort() {
    ::close(fd_);
}

FullListener::FullListener() {
    fd_ = boundLoopbackSocket(port_);
    if (::listen(fd_, 0) != 0) throw std::runtime_error("listen");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    // A backlog of 0 still queues one connection; two more make sure the queue is full.
    for (int i = 0; i < 3; ++i) {
        int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillers_.push_back(c);
    }
    ::usleep(50000);
}

FullListener::~FullListener() {
    for (int c : fillers_)
        ::close(c);
    ::close(fd_);
}

}  // namespace corvane::net::testing
