// The operation log: nothing without CHK, one file per minute, lines of
// several threads whole and in one piece each.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "operation_log.h"
#include "test_util.h"

namespace tavrel {
namespace {

using test::filesIn;
using test::readText;
using test::TempDir;

const std::regex kLine(R"(\d\d:\d\d:\d\d:\d\d\d > [^\r\n]*\r\n)");

TEST(OperationLog, NothingWithoutChk) {
    TempDir dir;
    EXPECT_FALSE(logStart(dir.root(), "tavrelcut", false));
    logWrite("\r\nEND : 5");
    logEnd();
    EXPECT_TRUE(filesIn(dir.root()).empty());
}

TEST(OperationLog, SameMinuteReplacesAndLeadingLineBreak) {
    TempDir dir;
    // 10:20:05 and 10:20:50 local time of one day: one name.
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 9;
    tm.tm_hour = 10;
    tm.tm_min = 20;
    tm.tm_sec = 5;
    tm.tm_isdst = -1;
    const auto first = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    const std::string path = dir.path("tavrelcut_202403091020.txt");
    EXPECT_EQ(operationLogPath(dir.root(), "tavrelcut", first), path);

    ASSERT_TRUE(logStart(dir.root(), "tavrelcut", true, first));
    logWrite("first run");
    logEnd();
    ASSERT_TRUE(logStart(dir.root(), "tavrelcut", true, first + std::chrono::seconds(45)));
    EXPECT_EQ(logFilePath(), path);
    logWrite("\r\nEND : 1234");
    logEnd();
    EXPECT_EQ(logFilePath(), "");
    EXPECT_EQ(filesIn(dir.root()), std::vector<std::string>{"tavrelcut_202403091020.txt"});

    const std::string text = readText(path);
    EXPECT_EQ(text.find("first run"), std::string::npos);
    // "Start", then the time stamp alone on its line and the text on the
    // next, then "End".
    const std::regex whole(R"(\d\d:\d\d:\d\d:\d\d\d > Start\r\n)"
                           R"(\d\d:\d\d:\d\d:\d\d\d > \r\nEND : 1234\r\n)"
                           R"(\d\d:\d\d:\d\d:\d\d\d > End\r\n)");
    EXPECT_TRUE(std::regex_match(text, whole)) << text;
}

TEST(OperationLog, LinesFromManyThreadsStayWhole) {
    TempDir dir;
    ASSERT_TRUE(logStart(dir.root(), "log", true));
    const std::string path = logFilePath();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) logWrite("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    logEnd();
    const std::string text = readText(path);
    size_t lines = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kLine); it != std::sregex_iterator(); ++it) ++lines;
    EXPECT_EQ(lines, 2002u);  // Start, 2,000 lines, End
    size_t whole = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kLine); it != std::sregex_iterator(); ++it)
        whole += it->length();
    EXPECT_EQ(whole, text.size());
}

}  // namespace
}  // namespace tavrel
