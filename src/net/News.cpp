#include "net/News.h"

#include <cstdint>

#include "net/AsyncHttp.h"
#include "platform/OpenUrl.h"

#ifndef CORVANE_NEWS_HOST
#define CORVANE_NEWS_HOST "news.tessel-audio.example"
#endif

namespace corvane::net {

std::optional<News> parseNewsAnswer(std::string_view answer) {
    const std::size_t end = answer.find('\0');
    if (end != std::string_view::npos) answer = answer.substr(0, end);
    const std::size_t n = answer.size();
    if (n == 0 || n > kNewsAnswerLimit) return std::nullopt;

    const std::size_t firstFeed = answer.find('\n');
    std::size_t copyFrom = std::string_view::npos;
    for (std::size_t i = firstFeed; i != std::string_view::npos; i = answer.find('\n', i + 1))
        if (n - i >= 2) copyFrom = i + 1;

    News news;
    if (copyFrom != std::string_view::npos) {
        news.link = std::string(answer.substr(0, firstFeed));
        news.text = std::string(answer.substr(copyFrom));
    } else {
        news.text = std::string(answer.substr(0, firstFeed));
    }
    return news;
}

std::string toDisplayText(std::string_view bytes) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t b = s[i];
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        // Length of the sequence and the allowed range of its second byte.
        std::size_t length = 0;
        std::uint8_t low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            if (b == 0xE0) low = 0xA0;
            if (b == 0xED) high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;
        }
        if (length == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        std::size_t taken = 1;
        while (taken < length && i + taken < n) {
            const std::uint8_t c = s[i + taken];
            const std::uint8_t lo = taken == 1 ? low : 0x80;
            const std::uint8_t hi = taken == 1 ? high : 0xBF;
            if (c < lo || c > hi) break;
            ++taken;
        }
        if (taken == length)
            out.append(bytes.substr(i, length));
        else
            out += kReplacement;  // the maximal valid beginning counts as one piece
        i += taken;
    }
    return out;
}

std::string defaultNewsUrl() {
    return std::string("http://") + CORVANE_NEWS_HOST + "/corvane-news.php";
}

// Never destroyed: a fetch still running while the process exits must not publish into a
// board that static destruction has already freed.
NewsBoard& NewsBoard::process() {
    static NewsBoard* board = new NewsBoard;
    return *board;
}

NewsBoard::~NewsBoard() {
    delete news_.load(std::memory_order_acquire);
}

bool NewsBoard::publish(News news) {
    auto* built = new News(std::move(news));
    const News* expected = nullptr;
    if (news_.compare_exchange_strong(expected, built, std::memory_order_acq_rel)) return true;
    delete built;
    return false;
}

NewsLine::NewsLine(NewsBoard& board, std::string url) : board_(board), url_(std::move(url)) {}

// The fetch is destroyed first: it cancels and joins, so its completion never runs after
// this object is gone.
NewsLine::~NewsLine() {
    http_.reset();
}

void NewsLine::setTimeouts(int connectMs, int transferMs) {
    connectMs_ = connectMs;
    transferMs_ = transferMs;
}

void NewsLine::editorOpened() {
    if (http_ || !board_.claimFetch()) return;
    http_ = std::make_unique<AsyncHttp>(this);
    http_->openSession(&NewsLine::completed);
    http_->setTimeout(connectMs_);
    http_->setTransferTimeout(transferMs_);
    http_->setAnswerLimit(kNewsAnswerLimit);
    http_->start(url_.c_str());
}

void NewsLine::completed(AsyncHttp& http) {
    auto* line = static_cast<NewsLine*>(http.owner());
    if (!line || http.error()) return;
    if (std::optional<News> news = parseNewsAnswer(http.answer()))
        line->board_.publish(std::move(*news));
}

std::string NewsLine::text() const {
    const News* news = board_.news();
    if (!news || news->text.empty()) return kNoNews;
    return toDisplayText(news->text);
}

std::string NewsLine::link() const {
    const News* news = board_.news();
    return news ? news->link : std::string();
}

bool NewsLine::click() {
    const News* news = board_.news();
    if (news && !news->link.empty()) platform::openUrl("http://" + news->link);
    return true;
}

}  // namespace corvane::net
