#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "net/News.h"
#include "platform/OpenUrl.h"

namespace corvane::net {
namespace {

using namespace std::string_literals;

struct Parsed {
    std::string link;
    std::string text;
};

Parsed parsed(std::string_view answer) {
    std::optional<News> news = parseNewsAnswer(answer);
    EXPECT_TRUE(news.has_value()) << answer;
    return news ? Parsed{news->link, news->text} : Parsed{};
}

TEST(NewsAnswer, LinkIsTheFirstLineAndTheLastFollowingCopyIsTheText) {
    EXPECT_EQ(parsed("x\ny\nz").link, "x");
    EXPECT_EQ(parsed("x\ny\nz").text, "z");
    EXPECT_EQ(parsed("x\ny").link, "x");
    EXPECT_EQ(parsed("x\ny").text, "y");
    // A copy runs to the end of the answer, later line feeds included; a line feed with only
    // one byte after it still starts one.
    EXPECT_EQ(parsed("www.a.example/n\nNew sounds\n").text, "New sounds\n");
    EXPECT_EQ(parsed("x\ny\nz\n").text, "z\n");
    EXPECT_EQ(parsed("x\n\n").text, "\n");
    // An empty first line: text without a link.
    EXPECT_EQ(parsed("\nhello").link, "");
    EXPECT_EQ(parsed("\nhello").text, "hello");
}

TEST(NewsAnswer, WithoutACopyTheFirstLineIsTheTextAndThereIsNoLink) {
    EXPECT_EQ(parsed("Hello there").text, "Hello there");
    EXPECT_EQ(parsed("Hello there").link, "");
    // The only line feed is the last byte: nothing follows it.
    EXPECT_EQ(parsed("Hello\n").text, "Hello");
    EXPECT_EQ(parsed("Hello\n").link, "");
    EXPECT_EQ(parsed("\n").text, "");
}

TEST(NewsAnswer, EmptyTooLongAndZeroBytes) {
    EXPECT_FALSE(parseNewsAnswer(""));
    EXPECT_FALSE(parseNewsAnswer(std::string(16385, 'a')));
    EXPECT_FALSE(parseNewsAnswer(std::string(100000, 'a')));
    std::string longest = "link\n" + std::string(16379, 'b');
    ASSERT_EQ(longest.size(), 16384u);
    EXPECT_EQ(parsed(longest).text, std::string(16379, 'b'));
    // The answer is a zero-terminated string: it ends at its first zero byte.
    EXPECT_EQ(parsed("ab\0c\nd"s).text, "ab");
    EXPECT_EQ(parsed("ab\nc\0\nd"s).text, "c");
    EXPECT_FALSE(parseNewsAnswer("\0abc"s));
    EXPECT_TRUE(parseNewsAnswer("a\0"s + std::string(20000, 'b')));
}

TEST(NewsDisplay, ValidUtf8IsKeptAndInvalidPiecesBecomeOneReplacementEach) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(toDisplayText("plain ascii"), "plain ascii");
    EXPECT_EQ(toDisplayText("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB9"),
              "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB9");
    // A Latin-1 byte, a lone continuation byte, a cut sequence at the end.
    EXPECT_EQ(toDisplayText("caf\xE9!"), "caf" + r + "!");
    EXPECT_EQ(toDisplayText("\x80x"), r + "x");
    EXPECT_EQ(toDisplayText("a\xE2\x82"), "a" + r);
    // A cut sequence followed by ASCII: the ASCII byte survives.
    EXPECT_EQ(toDisplayText("\xE2\x82z"), r + "z");
    // Overlong forms, surrogates and values past U+10FFFF are refused byte by byte.
    EXPECT_EQ(toDisplayText("\xC0\xAF"), r + r);
    EXPECT_EQ(toDisplayText("\xED\xA0\x80"), r + r + r);
    EXPECT_EQ(toDisplayText("\xF4\x90\x80\x80"), r + r + r + r);
    EXPECT_EQ(toDisplayText("\xFF\xFE"), r + r);
}

TEST(NewsDisplay, EveryByteStringGivesValidUtf8) {
    // Every two-byte string and a walk over three-byte ones: the output decodes again to
    // itself, so it is valid UTF-8.
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            std::string in{static_cast<char>(a), static_cast<char>(b), static_cast<char>(0xA5)};
            std::string out = toDisplayText(in);
            ASSERT_EQ(toDisplayText(out), out) << a << " " << b;
        }
}

TEST(NewsBoard, FirstPublicationWinsAndReadersSeeAllOrNothing) {
    NewsBoard board;
    EXPECT_EQ(board.news(), nullptr);
    EXPECT_TRUE(board.claimFetch());
    EXPECT_FALSE(board.claimFetch());

    std::atomic<bool> go{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < 20000; ++i) {
                if (const News* n = board.news()) {
                    if (n->link != "link" || n->text != std::string(300, 't')) ++torn;
                    return;
                }
            }
        });
    go = true;
    EXPECT_TRUE(board.publish(News{"link", std::string(300, 't')}));
    EXPECT_FALSE(board.publish(News{"other", "later"}));
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(board.news()->link, "link");
}

TEST(NewsLine, WithoutNewsTheButtonShowsDashesAndIgnoresClicks) {
    NewsBoard board;
    NewsLine line(board, "http://127.0.0.1:1/unused");
    EXPECT_EQ(line.text(), "---");
    EXPECT_EQ(line.link(), "");
    EXPECT_FALSE(line.hasNews());
    int opened = 0;
    platform::setUrlOpener(
        [](void* n, const std::string&) {
            ++*static_cast<int*>(n);
            return true;
        },
        &opened);
    EXPECT_TRUE(line.click());
    board.publish(News{"", "Neu: Kl\xE4nge"});
    EXPECT_TRUE(line.click());
    platform::setUrlOpener(nullptr, nullptr);
    EXPECT_EQ(opened, 0);
    // Published bytes that are not UTF-8 are shown with replacements.
    EXPECT_EQ(line.text(), "Neu: Kl\xEF\xBF\xBDnge");
}

TEST(NewsLine, TheDefaultAddressIsTheConfiguredHostsNewsPage) {
    EXPECT_EQ(defaultNewsUrl(),
              std::string("http://") + CORVANE_TEST_NEWS_HOST + "/corvane-news.php");
}

}  // namespace
}  // namespace corvane::net
