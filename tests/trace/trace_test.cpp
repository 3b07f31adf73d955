// The trace file as a reader of it sees it: bytes on disk.
#include "common/trace/trace.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace qmtest;

namespace {

const std::string TRACE_RULE = "*" + std::string(68, '=');
const std::string TRACE_TIME_PATTERN = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d # )";
const std::string TRACE_LINE_HEADER = TRACE_TIME_PATTERN + R"(\d+ # )"; // time, thread id

// The file's CR LF separated lines after its byte-order mark, as UTF-8 for
// readable assertions, leaving out the first `skip` (by default the banner).
std::vector<std::string> traceLines(const std::wstring& path, size_t skip = 5)
{
    std::string bytes = readBytes(path);
    if (bytes.compare(0, 2, "\xFF\xFE"))
        return {"<no byte-order mark>"};
    std::string text = narrow(fromUtf16le(bytes.substr(2)));
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 2) {
        end = std::min(text.find("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
    }
    lines.erase(lines.begin(), lines.begin() + std::min(skip, lines.size()));
    return lines;
}

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { traceInit(); traceSetCategory(TRACE_CAT_ALL, 0); }
    void TearDown() override { traceOpen(0, nullptr, 0); }

    TempDir dir;
    std::wstring path = dir / L"trace_quarnrept_migrate.txt";
};

} // namespace

TEST_F(TraceTest, AnOpenStartsAnewAndEachLineGetsAHeaderAndCrLf)
{
    writeBytes(path, "the last run's trace\r\n");
    ASSERT_EQ(0, traceOpen(1, path.c_str(), 0));
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    traceWrite("\\source\\522u\\common\\cmd\\ifcregis.cpp", 1516, L"value %s is %u\n", L"Path", 7u);
    GetLocalTime(&after);
    traceWrite("/home/dev/quarnrept_migratedlg.cpp", 518, L"first\nsecond\n");
    traceWrite("c:wn32util.cpp", 3, L"no line end ");
    traceWrite("plain.cpp", 4, L"third\n");
    // Too long for the buffer: cut there, losing its line feed.
    const std::wstring huge(TRACE_BUFFER_CHARS + 50000, L'x');
    traceWrite(__FILE__, 5, L"%s\n", huge.c_str());
    traceWrite(__FILE__, 6, L"after\n");

    // The banner: an empty line, a rule, the start line (_wctime's text), a
    // rule, an empty line. The last run's trace is gone.
    std::vector<std::string> lines = traceLines(path, 0);
    ASSERT_EQ(12u, lines.size());
    // The last run's file belongs to the user running the test, not to
    // Administrators (as every file does under Wine), so it was replaced, and
    // the trace says so after the banner.
    EXPECT_EQ(0u, lines[5].find("* the trace file found here belonged to ")) << lines[5];
    EXPECT_NE(std::string::npos, lines[5].find(": it was replaced by a new one")) << lines[5];
    lines.erase(lines.begin() + 5, lines.begin() + 7);
    EXPECT_EQ((std::vector<std::string>{"", TRACE_RULE, TRACE_RULE, ""}),
              (std::vector<std::string>{lines[0], lines[1], lines[3], lines[4]}));
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\* trace started [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4})")))
        << lines[2];
    // Every line feed becomes CR LF; a message without one runs on into the next.
    const std::string tid = std::to_string(GetCurrentThreadId());
    EXPECT_TRUE(std::regex_match(lines[5], std::regex(TRACE_TIME_PATTERN + tid + " # ifcregis\\.cpp # 1516 # value Path is 7")))
        << lines[5];
    // The time stamp reads month/day/year, as the clock did around the write.
    auto stamp = [](const SYSTEMTIME& t) {
        char text[32];
        snprintf(text, sizeof text, "%02u/%02u/%04u %02u:%02u:%02u # ", t.wMonth, t.wDay, t.wYear, t.wHour, t.wMinute,
                 t.wSecond);
        return std::string(text);
    };
    EXPECT_TRUE(lines[5].rfind(stamp(before), 0) == 0 || lines[5].rfind(stamp(after), 0) == 0)
        << lines[5] << " at " << stamp(before);
    EXPECT_TRUE(std::regex_match(lines[6], std::regex(TRACE_LINE_HEADER + "quarnrept_migratedlg\\.cpp # 518 # first"))) << lines[6];
    EXPECT_EQ("second", lines[7]);
    EXPECT_TRUE(std::regex_match(lines[8], std::regex(TRACE_LINE_HEADER + "wn32util\\.cpp # 3 # no line end " + TRACE_LINE_HEADER
                                                       + "plain\\.cpp # 4 # third")))
        << lines[8];
    const size_t firstX = lines[9].find('x'), lastX = lines[9].rfind('x');
    EXPECT_EQ(size_t(TRACE_BUFFER_CHARS - 1), lastX - firstX + 1);
    EXPECT_NE(std::string::npos, lines[9].find("# 6 # after", lastX));

    // Lines written together read as the same lines written one by one,
    // the huge one cut alike; only the time may differ.
    CTraceLines together;
    together.Add("\\source\\522u\\common\\cmd\\ifcregis.cpp", 1516, L"value %s is %u\n", L"Path", 7u);
    together.Add("/home/dev/quarnrept_migratedlg.cpp", 518, L"first\nsecond\n");
    together.Add(__FILE__, 5, L"%s\n", huge.c_str());
    together.Add(__FILE__, 6, L"after\n");
    together.WriteAll();
    const std::vector<std::string> alone = lines;
    lines = traceLines(path, 0);
    const std::vector<std::string> written = lines;
    lines.erase(lines.begin() + 5, lines.begin() + 7);
    ASSERT_EQ(14u, lines.size());
    const size_t timeLength = stamp(before).size();
    auto untimed = [&](const std::string& line) { return line.substr(std::min(line.size(), timeLength)); };
    EXPECT_EQ(untimed(alone[5]), untimed(lines[10]));
    EXPECT_EQ(untimed(alone[6]), untimed(lines[11]));
    EXPECT_EQ(alone[7], lines[12]);
    EXPECT_EQ(alone[9].size(), lines[13].size());
    EXPECT_EQ(lastX - firstX, lines[13].rfind('x') - lines[13].find('x'));
    EXPECT_NE(std::string::npos, lines[13].find("# 6 # after", lines[13].rfind('x')));

    // A file that cannot be made refuses the open and leaves tracing off.
    EXPECT_EQ(TRACE_REFUSED, traceOpen(1, (dir / L"missing\\trace.txt").c_str(), 0));
    traceWrite(__FILE__, 7, L"lost\n");
    EXPECT_EQ(written, traceLines(path, 0));
}

TEST_F(TraceTest, ThreadsNeverInterleaveWithinALine)
{
    ASSERT_EQ(0, traceOpen(1, path.c_str(), 0));
    std::vector<std::thread> workers;
    for (int t = 0; t < 6; ++t)
        workers.emplace_back([t] {
            const std::wstring payload(200 + 37 * t, wchar_t(L'a' + t));
            for (int i = 0; i < 150; ++i)
                traceWrite(__FILE__, 100 + t, L"worker %d line %d %s\n", t, i, payload.c_str());
        });
    for (std::thread& w : workers)
        w.join();
    const std::vector<std::string> lines = traceLines(path);
    ASSERT_EQ(900u, lines.size());
    const std::regex shape(TRACE_LINE_HEADER + R"(trace_test\.cpp # \d+ # worker (\d) line \d+ ([a-z]+))");
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line.substr(0, 120);
        const int t = std::stoi(m[1]);
        EXPECT_EQ(std::string(200 + 37 * t, char('a' + t)), m[2].str());
    }
}
