#pragma once
// A small HTTP server on 127.0.0.1 for the fetch tests. It listens on a port the kernel picks,
// serves at most `maxRequests` connections and stops by itself after `lifetimeMs`; it never
// talks to anything but loopback clients.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::net::testing {

struct Reply {
    Reply(int status_, std::string body_, std::string headers_ = {})
        : status(status_), body(std::move(body_)), headers(std::move(headers_)) {}
    static Reply silent() {
        Reply r(200, {});
        r.never = true;
        return r;
    }

    int status = 200;
    std::string body;
    std::string headers;  // extra header lines, each ending in "\r\n"
    bool never = false;   // read the request, then keep the connection open without answering
};

struct SeenRequest {
    std::string method;
    std::string path;
    std::string userAgent;
};

class LoopbackServer {
  public:
    using Handler = std::function<Reply(const std::string& path)>;

    explicit LoopbackServer(Handler handler, int maxRequests = 8, int lifetimeMs = 15000);
    ~LoopbackServer();

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    int requestCount() const { return count_.load(); }
    std::vector<SeenRequest> requests() const;

  private:
    void serve();

    Handler handler_;
    int maxRequests_;
    int lifetimeMs_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> count_{0};
    mutable std::mutex mutex_;
    std::vector<SeenRequest> seen_;
    std::vector<int> held_;
    std::thread thread_;
};

// A loopback port that refuses connections: bound, never listening, for as long as it lives.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// A loopback listener whose accept queue is full, so further connection attempts are never
// answered (their first packet is dropped) until the caller's connect time-out.
class FullListener {
  public:
    FullListener();
    ~FullListener();
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

}  // namespace corvane::net::testing
