#pragma once
// One asynchronous HTTP GET. The caller opens a session with a completion function, sets the
// connect time-out and starts the request; the transfer then runs on one worker thread that
// this object owns, so the caller's thread never waits on the network. When the fetch ends,
// completed or failed, the request is closed, the status reads "Closed", and the completion
// function is called exactly once, on the worker thread (or on the caller's thread when
// start() fails before anything is sent). Destroying the object mid-transfer clears the
// owner, cancels the transfer at once and joins the worker before anything is freed, so a
// completion never sees a dangling owner.
//
// Threads: openSession, setTimeout, setTransferTimeout, setAnswerLimit and start are control
// calls (the editor's thread), made in that order before the fetch runs. answer(), error()
// and httpStatus() may be read inside the completion, or by any thread once finished()
// returns true (it turns true once the completion has returned). statusText() and owner()
// may be read by any thread at any time.
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

namespace corvane::net {

class AsyncHttp {
  public:
    using Completion = void (*)(AsyncHttp& http);

    // The user agent sent with every request.
    static constexpr const char* kUserAgent = "Asynchronous WinHTTP/1.0";

    explicit AsyncHttp(void* owner = nullptr);
    virtual ~AsyncHttp();
    AsyncHttp(const AsyncHttp&) = delete;
    AsyncHttp& operator=(const AsyncHttp&) = delete;

    // Stores the completion function and opens the session (the root handle). False when
    // the session cannot be opened.
    bool openSession(Completion completion);
    // Connect time-out in milliseconds. Without a session the user is told "No session on
    // set timeout" (caption "Error") and the call fails.
    bool setTimeout(int milliseconds);
    // Limit on the whole fetch, name look-up to last byte (30 s unless set): a server that
    // accepts and never answers ends as a failed fetch instead of holding the worker forever.
    void setTransferTimeout(int milliseconds);
    // Answers longer than this many bytes stop the transfer and count as failed (no limit
    // unless set), so a hostile server cannot grow the answer without bound.
    void setAnswerLimit(std::size_t bytes);
    // Parses the URL (http or https), prepares the GET and hands it to the worker. Any
    // failing step ends the fetch at once (completion called, error set); false then.
    // One fetch per object: a second start fails without touching the first.
    bool start(const char* url);

    void* owner() const { return owner_.load(std::memory_order_acquire); }
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    // The received bytes (the body of the final response after redirects).
    const std::string& answer() const { return answer_; }
    // Set when the fetch failed: transport error, time-out, cancel, a status other than
    // 2xx, an answer over the limit, or a set-up step failing.
    bool error() const { return error_; }
    long httpStatus() const { return httpStatus_; }
    // The last diagnostic line (never shown to the user), at most 255 characters.
    std::string statusText() const;
    // The diagnostic line of the step that ended the fetch (the one before "Closed"); read
    // once finished() is true.
    const std::string& endStatus() const { return endStatus_; }

  private:
    void setStatus(const char* format, ...);
    void run();
    void finish(bool failed);
    void closeRequest();
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
    static int onPrereq(void* self, char*, char*, int, int remotePort);

    std::atomic<void*> owner_;
    Completion completion_ = nullptr;
    void* root_ = nullptr;     // the session (multi handle)
    void* request_ = nullptr;  // the request and its connection (easy handle)
    int connectTimeoutMs_ = 0;
    int transferTimeoutMs_ = 30000;
    std::size_t answerLimit_ = static_cast<std::size_t>(-1);

    std::string answer_;
    bool error_ = false;
    bool overLimit_ = false;
    long httpStatus_ = 0;
    long pendingStatus_ = 0;
    bool sawLocation_ = false;
    bool started_ = false;
    bool completed_ = false;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};

    mutable std::mutex statusMutex_;
    std::string status_;
    std::string endStatus_;
    char curlError_[256] = {};

    std::thread worker_;
};

}  // namespace corvane::net
