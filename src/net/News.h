#pragma once
// The news line of the editor: the answer rules, the process-wide results and the per-editor
// object that starts the one fetch of the process and handles clicks.
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::net {

class AsyncHttp;

inline constexpr int kNewsConnectTimeoutMs = 6000;
inline constexpr int kNewsTransferTimeoutMs = 30000;
inline constexpr std::size_t kNewsAnswerLimit = 16384;
// What the news line shows while there is no news.
inline constexpr const char* kNoNews = "---";

// Link and text exactly as the answer gave them (bytes, no zero byte inside).
struct News {
    std::string link;
    std::string text;
};

// Applies the answer rules. The answer ends at its first zero byte. Nothing (nullopt) for an
// empty answer or one longer than kNewsAnswerLimit. Otherwise the line feeds are scanned:
// every line feed with at least one byte after it starts a candidate text running to the end
// of the answer (later line feeds included) and the last candidate wins; with a candidate
// the link is the text before the first line feed, without one the text is the text before
// the first line feed (the whole answer when there is none) and the link is empty.
std::optional<News> parseNewsAnswer(std::string_view answer);

// The bytes as UTF-8 text: valid sequences are kept, each maximal invalid piece becomes
// U+FFFD.
std::string toDisplayText(std::string_view bytes);

// The address the product asks for its news: http://<news host>/corvane-news.php, with the
// host chosen when the product is built.
std::string defaultNewsUrl();

// Results shared by every editor of a board (the product uses one board per process) and
// the flag that the board's one fetch has been started. A result is built completely and then
// released through an atomic pointer, so readers on any thread see either no news or all of
// it; it never changes afterwards and lives as long as the board.
class NewsBoard {
  public:
    static NewsBoard& process();

    NewsBoard() = default;
    ~NewsBoard();
    NewsBoard(const NewsBoard&) = delete;
    NewsBoard& operator=(const NewsBoard&) = delete;

    // Any thread. Null until a fetch succeeded.
    const News* news() const { return news_.load(std::memory_order_acquire); }
    // Any thread. The first publication wins; later ones are dropped (false).
    bool publish(News news);
    // Control thread. True for the first caller only: that caller runs the board's fetch.
    bool claimFetch() { return !fetchStarted_.exchange(true, std::memory_order_acq_rel); }
    bool fetchStarted() const { return fetchStarted_.load(std::memory_order_acquire); }

  private:
    std::atomic<const News*> news_{nullptr};
    std::atomic<bool> fetchStarted_{false};
};

// One per editor window, called from the editor's thread. The first editor opened on a board
// starts the fetch and owns it; destroying that editor's NewsLine mid-transfer cancels the
// fetch, which then changes nothing (no retry on that board). Every NewsLine reads the
// board's results, so a later editor shows the news at once without a new request.
class NewsLine {
  public:
    explicit NewsLine(NewsBoard& board = NewsBoard::process(), std::string url = defaultNewsUrl());
    ~NewsLine();
    NewsLine(const NewsLine&) = delete;
    NewsLine& operator=(const NewsLine&) = delete;

    // Shorter limits for tests; the product keeps kNewsConnectTimeoutMs and
    // kNewsTransferTimeoutMs. Call before editorOpened().
    void setTimeouts(int connectMs, int transferMs);

    // The editor opened: starts the board's fetch when none was started yet.
    void editorOpened();
    // The button text as UTF-8: the news text, or "---" while there is none.
    std::string text() const;
    // The link, empty while there is none.
    std::string link() const;
    // True once news are there; the editor's idle redraws the button when this changes.
    bool hasNews() const { return board_.news() != nullptr; }
    // A click on the button: opens "http://" + link in the browser when there is a link.
    // Always handled (true).
    bool click();

    // The fetch this editor started (null when another editor started the board's fetch).
    const AsyncHttp* fetch() const { return http_.get(); }

  private:
    static void completed(AsyncHttp& http);

    NewsBoard& board_;
    std::string url_;
    int connectMs_ = kNewsConnectTimeoutMs;
    int transferMs_ = kNewsTransferTimeoutMs;
    std::unique_ptr<AsyncHttp> http_;
};

}  // namespace corvane::net
