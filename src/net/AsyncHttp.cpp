#include "net/AsyncHttp.h"

#include <curl/curl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <system_error>

#include "platform/MessageBox.h"

namespace corvane::net {
namespace {

bool globalInit() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result == CURLE_OK;
}

bool endsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// Names reserved for documentation and testing never belong to a real server: a request
// for one fails before any name look-up leaves the machine.
bool isReservedHost(std::string host) {
    for (char& c : host)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (endsWith(host, ".")) host.pop_back();
    for (std::string_view name : {"example", "invalid", "test"}) {
        if (host == name) return true;
        if (host.size() > name.size() && endsWith(host, name) &&
            host[host.size() - name.size() - 1] == '.')
            return true;
    }
    return false;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

AsyncHttp::AsyncHttp(void* owner) : owner_(owner) {}

AsyncHttp::~AsyncHttp() {
    // The owner is going away: from here on a completion sees no owner. The worker is woken
    // and joined before any member it uses is freed.
    owner_.store(nullptr, std::memory_order_release);
    cancel_.store(true, std::memory_order_release);
    if (root_) curl_multi_wakeup(static_cast<CURLM*>(root_));
    if (worker_.joinable()) worker_.join();
    closeRequest();
    if (root_) curl_multi_cleanup(static_cast<CURLM*>(root_));
}

bool AsyncHttp::openSession(Completion completion) {
    completion_ = completion;
    if (root_) return true;
    if (!globalInit()) {
        setStatus("curl_global_init failed with error %d", 0);
        return false;
    }
    root_ = curl_multi_init();
    if (!root_) {
        setStatus("curl_multi_init failed with error %d", 0);
        return false;
    }
    return true;
}

bool AsyncHttp::start(const char* url) {
    if (started_) return false;
    started_ = true;
    if (!root_) {
        setStatus("curl_multi_add_handle failed with error %d", static_cast<int>(CURLM_BAD_HANDLE));
        finish(true);
        return false;
    }

    CURLU* parts = curl_url();
    CURLUcode uc =
        parts ? curl_url_set(parts, CURLUPART_URL, url ? url : "", 0) : CURLUE_OUT_OF_MEMORY;
    char* scheme = nullptr;
    char* host = nullptr;
    if (uc == CURLUE_OK) uc = curl_url_get(parts, CURLUPART_SCHEME, &scheme, 0);
    if (uc == CURLUE_OK) uc = curl_url_get(parts, CURLUPART_HOST, &host, 0);
    if (uc == CURLUE_OK && std::strcmp(scheme, "http") != 0 && std::strcmp(scheme, "https") != 0)
        uc = CURLUE_UNSUPPORTED_SCHEME;
    const bool reserved = uc == CURLUE_OK && isReservedHost(host);
    std::string hostName = host ? host : "";
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(parts);
    if (uc != CURLUE_OK) {
        setStatus("curl_url_set failed with error %d", static_cast<int>(uc));
        finish(true);
        return false;
    }
    if (reserved) {
        setStatus("curl_url_set: reserved host %.180s, no request made", hostName.c_str());
        finish(true);
        return false;
    }

    CURL* request = curl_easy_init();
    if (!request) {
        setStatus("curl_easy_init failed with error %d", 0);
        finish(true);
        return false;
    }
    request_ = request;
    CURLcode rc = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (rc == CURLE_OK) rc = curl_easy_setopt(request, option, value);
    };
    set(CURLOPT_URL, url);
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_USERAGENT, kUserAgent);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 10L);
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs_));
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(transferTimeoutMs_));
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_ERRORBUFFER, curlError_);
    // Loopback addresses never go through a proxy.
    set(CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    set(CURLOPT_HEADERFUNCTION, &AsyncHttp::onHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(this));
    set(CURLOPT_WRITEFUNCTION, &AsyncHttp::onBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    set(CURLOPT_PREREQFUNCTION, &AsyncHttp::onPrereq);
    set(CURLOPT_PREREQDATA, static_cast<void*>(this));
    if (rc != CURLE_OK) {
        setStatus("curl_easy_setopt failed with error %d", static_cast<int>(rc));
        finish(true);
        return false;
    }
    CURLMcode mc = curl_multi_add_handle(static_cast<CURLM*>(root_), request);
    if (mc != CURLM_OK) {
        setStatus("curl_multi_add_handle failed with error %d", static_cast<int>(mc));
        finish(true);
        return false;
    }
    try {
        worker_ = std::thread(&AsyncHttp::run, this);
    } catch (const std::system_error& e) {
        setStatus("std::thread failed with error %d", e.code().value());
        finish(true);
        return false;
    }
    return true;
}

void AsyncHttp::run() {
    CURLM* multi = static_cast<CURLM*>(root_);
    bool done = false;
    CURLcode result = CURLE_OK;
    while (!done) {
        if (cancel_.load(std::memory_order_acquire)) {
            setStatus("curl_multi_poll: REQUEST_ERROR - error %d, result %s",
                      static_cast<int>(CURLE_ABORTED_BY_CALLBACK), "cancelled");
            finish(true);
            return;
        }
        int running = 0;
        CURLMcode mc = curl_multi_perform(multi, &running);
        if (mc != CURLM_OK) {
            setStatus("curl_multi_perform: Error %d encountered.", static_cast<int>(mc));
            finish(true);
            return;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                done = true;
                result = message->data.result;
            }
        }
        if (done) break;
        mc = curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        if (mc != CURLM_OK) {
            setStatus("curl_multi_poll: Error %d encountered.", static_cast<int>(mc));
            finish(true);
            return;
        }
    }

    if (result != CURLE_OK) {
        if (overLimit_)
            setStatus("onBody: REQUEST_ERROR - answer longer than %zu bytes", answerLimit_);
        else
            setStatus("curl_multi_info_read: REQUEST_ERROR - error %d, result %s",
                      static_cast<int>(result),
                      curlError_[0] ? curlError_ : curl_easy_strerror(result));
        finish(true);
        return;
    }
    long code = 0;
    curl_easy_getinfo(static_cast<CURL*>(request_), CURLINFO_RESPONSE_CODE, &code);
    httpStatus_ = code;
    if (code < 200 || code > 299) {
        setStatus("curl_easy_getinfo: REQUEST_ERROR - HTTP status %ld", code);
        finish(true);
        return;
    }
    setStatus("curl_multi_info_read: DONE (%zu)", answer_.size());
    finish(false);
}

void AsyncHttp::closeRequest() {
    if (!request_) return;
    if (root_) curl_multi_remove_handle(static_cast<CURLM*>(root_), static_cast<CURL*>(request_));
    curl_easy_cleanup(static_cast<CURL*>(request_));
    request_ = nullptr;
}

void AsyncHttp::finish(bool failed) {
    if (completed_) return;
    completed_ = true;
    error_ = failed;
    endStatus_ = statusText();
    setStatus("Closed");
    closeRequest();
    if (completion_) completion_(*this);
    finished_.store(true, std::memory_order_release);
}

std::size_t AsyncHttp::onHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* http = static_cast<AsyncHttp*>(self);
    const std::size_t n = size * count;
    std::string_view line(data, n);
    if (startsWithNoCase(line, "http/")) {
        // A new response begins (the first one, or the next after a redirect).
        std::size_t space = line.find(' ');
        long code = 0;
        if (space != std::string_view::npos)
            for (std::size_t i = space + 1; i < line.size() && line[i] >= '0' && line[i] <= '9';
                 ++i)
                code = code * 10 + (line[i] - '0');
        http->pendingStatus_ = code;
        http->sawLocation_ = false;
    } else if (startsWithNoCase(line, "location:")) {
        http->sawLocation_ = true;
    } else if (line == "\r\n" || line == "\n") {
        const long code = http->pendingStatus_;
        if (code >= 300 && code <= 399 && http->sawLocation_) {
            http->setStatus("onHeader: REDIRECT (%ld)", code);
        } else if (code >= 200) {
            http->setStatus("onHeader: HEADERS_AVAILABLE (%ld)", code);
            http->answer_.clear();
        }
    }
    return n;
}

std::size_t AsyncHttp::onBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* http = static_cast<AsyncHttp*>(self);
    const std::size_t n = size * count;
    if (n > http->answerLimit_ - http->answer_.size()) {
        http->overLimit_ = true;
        return 0;  // stops the transfer
    }
    http->answer_.append(data, n);
    http->setStatus("onBody: READ_COMPLETE (%zu)", n);
    return n;
}

int AsyncHttp::onPrereq(void* self, char*, char*, int, int remotePort) {
    static_cast<AsyncHttp*>(self)->setStatus("onPrereq: SENDREQUEST_COMPLETE (%d)", remotePort);
    return CURL_PREREQFUNC_OK;
}

}  // namespace corvane::net
