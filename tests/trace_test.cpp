// The trace file as a reader of it sees it: bytes on disk.
#include "common/trace/trace.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace qmtest;

namespace {

const std::string kRule = "*" + std::string(68, '=');

// The file's text after its byte-order mark, as UTF-8 for readable assertions.
std::string traceText(const std::wstring& path)
{
    std::string bytes = readBytes(path);
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE')
        return "<no byte-order mark>";
    return narrow(fromUtf16le(bytes.substr(2)));
}

std::vector<std::string> physicalLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

std::string bannerText()
{
    return "\r\n" + kRule + "\r\n* trace started ";
}

// Lines after the six-line banner.
std::vector<std::string> traceLines(const std::wstring& path)
{
    std::vector<std::string> lines = physicalLines(traceText(path));
    if (lines.size() < 5)
        return {};
    return std::vector<std::string>(lines.begin() + 5, lines.end());
}

const char kHeader[] = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d # \d+ # )";

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        traceInit();
        traceSetCategory(TRACE_CAT_ALL, 0);
        path = dir / L"trace_quarnrept_migrate.txt";
    }
    void TearDown() override { traceOpen(0, nullptr, 0); }

    TempDir dir;
    std::wstring path;
};

} // namespace

TEST_F(TraceTest, OpenWritesMarkAndBanner)
{
    ASSERT_EQ(0, traceOpen(1, path.c_str(), 0));
    std::string text = traceText(path);
    ASSERT_EQ(0u, text.find(bannerText())) << text;

    std::vector<std::string> lines = physicalLines(text);
    // An empty line, a rule, the start line, a rule and two empty lines: the
    // last CR LF ends the second empty line.
    ASSERT_EQ(5u, lines.size()) << text;
    EXPECT_EQ("", lines[0]);
    EXPECT_EQ(kRule, lines[1]);
    // _wctime's text without its line feed, e.g. "Wed Jan 07 09:05:03 2004".
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\* trace started [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4})")))
        << lines[2];
    EXPECT_EQ(kRule, lines[3]);
    EXPECT_EQ("", lines[4]);
    EXPECT_EQ("\r\n\r\n", text.substr(text.size() - 4));
}

TEST_F(TraceTest, HeaderCarriesTimeThreadFileNameAndLine)
{
    ASSERT_EQ(0, traceOpen(1, path.c_str(), 0));
    traceWrite("\\source\\522u\\common\\cmd\\ifcregis.cpp", 1516, L"value %s is %u\n", L"Path", 7u);
    traceWrite("/home/dev/quarnrept_migratedlg.cpp", 518, L"slash\n");
    traceWrite("c:wn32util.cpp", 3, L"drive\n");
    traceWrite("plain.cpp", 4, L"plain\n");

    std::vector<std::string> lines = traceLines(path);
    ASSERT_EQ(4u, lines.size());
    const std::string tid = std::to_string(GetCurrentThreadId());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kHeader) + "ifcregis\\.cpp # 1516 # value Path is 7")))
        << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(" # " + tid + " # ")) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find(" # quarnrept_migratedlg.cpp # 518 # slash")) << lines[1];
    EXPECT_NE(std::string::npos, lines[2].find(" # wn32util.cpp # 3 # drive")) << lines[2];
    EXPECT_NE(std::string::npos, lines[3].find(" # plain.cpp # 4 # plain")) << lines[3];

    // The time is the local time of the call.
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[16];
    snprintf(date, sizeof date, "%02u/%02u/%04u", now.wMonth, now.wDay, now.wYear);
    EXPECT_EQ(0u, lines[0].find(date)) << lines[0];
}

TEST_F(TraceTest, LineFeedsBecomeCrLfAndMessagesWithoutOneRunOn)
{
    ASSERT_EQ(0, traceOpen(1, path.c_str(), 0));
    traceWrite(__FILE__, 1, L"first\nsecond\n");
    traceWrite(__FILE__, 2, L"no line end ");
    traceWrite(__FILE__, 3, L"third\rkept\n");

    std::string text = traceText(path);
    for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
        ASSERT_EQ('\r', text[i - 1]) << "bare line feed at " << i;

    std::vector<std::string> lines = traceLines(path);
    ASSERT_EQ(3u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string(kHeader) + "trace_test\\.cpp # 1 # first")));
    EXPECT_EQ("second", lines[1]);
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(std::string(kHeader) + "trace_test\\.cpp # 2 # no line end "
                                                       + kHeader + "trace_test\\.cpp # 3 # third\rkept")))
        << lines[2];
}

TEST_F(TraceTest, SecondOpenStartsTheFileAnewAndAppendKeepsIt)
{
    ASSERT_EQ(0, traceOpen(1, path.c_str(), 0));
    traceWrite(__FILE__, 1, L"from the first run\n");
    ASSERT_EQ(1u, traceLines(path).size());

    ASSERT_EQ(0, traceOpen(1, path.c_str(), 0));
    std::string text = traceText(path);
    EXPECT_EQ(0u, text.find(bannerText()));
    EXPECT_EQ(std::string::npos, text.find("first run")) << text;
    EXPECT_EQ(5u, physicalLines(text).size());

    traceWrite(__FILE__, 2, L"kept\n");
    ASSERT_EQ(0, traceOpen(1, path.c_str(), 1));
    text = traceText(path);
    EXPECT_NE(std::string::npos, text.find("kept")) << text;
    // Append mode writes a mark and a banner of its own after the old text.
    EXPECT_NE(std::string::npos, text.find(narrow(std::wstring(1, wchar_t(0xFEFF))) + bannerText()));
}

TEST_F(TraceTest, CategorySwitchesRefuseBadValues)
{
    EXPECT_EQ(0, traceSetCategory(TRACE_CAT_APP, 1));
    EXPECT_EQ(TRACE_REFUSED, traceSetCategory(38, 1));
    EXPECT_EQ(TRACE_REFUSED, traceSetCategory(-1, 1));
    EXPECT_EQ(TRACE_REFUSED, traceSetCategory(TRACE_CAT_UTIL, 2));
    EXPECT_EQ(TRACE_REFUSED, traceSetCategory(TRACE_CAT_APP, -1));
    for (int i = 0; i < TRACE_CATEGORY_COUNT; ++i)
        EXPECT_EQ(i == TRACE_CAT_APP ? 1 : 0, traceCategoryOn[i]) << "category " << i;

    EXPECT_EQ(0, traceSetCategory(TRACE_CAT_ALL, 1));
    for (int i = 0; i < TRACE_CATEGORY_COUNT; ++i)
        EXPECT_EQ(1, traceCategoryOn[i]) << "category " << i;

    EXPECT_EQ(0, traceSetCategory(TRACE_CAT_ALL, 0));
    EXPECT_EQ(0, traceSetCategory(36, 1));
    for (int i = 0; i < TRACE_CATEGORY_COUNT; ++i)
        EXPECT_EQ(i == 36 ? 1 : 0, traceCategoryOn[i]) << "category " << i;
}

TEST_F(TraceTest, DisabledOrUncreatableFileLeavesTracingOff)
{
    EXPECT_EQ(TRACE_REFUSED, traceOpen(0, path.c_str(), 0));
    traceWrite(__FILE__, 1, L"nothing\n");
    EXPECT_FALSE(fileExists(path));

    std::wstring nowhere = dir / L"missing\\trace.txt";
    EXPECT_EQ(TRACE_REFUSED, traceOpen(1, nowhere.c_str(), 0));
    traceWrite(__FILE__, 2, L"nothing either\n");
    EXPECT_FALSE(fileExists(nowhere));

    // A directory standing where the file should be.
    makeDirs(path);
    EXPECT_EQ(TRACE_REFUSED, traceOpen(1, path.c_str(), 0));
    traceWrite(__FILE__, 3, L"still nothing\n");
}

TEST_F(TraceTest, OverlongMessageIsCutAtTheBuffer)
{
    ASSERT_EQ(0, traceOpen(1, path.c_str(), 0));
    std::wstring huge(TRACE_BUFFER_CHARS + 50000, L'x');
    traceWrite(__FILE__, 1, L"%s\n", huge.c_str());
    traceWrite(__FILE__, 2, L"after\n");

    std::vector<std::string> lines = traceLines(path);
    ASSERT_EQ(1u, lines.size()) << "the cut message loses its line feed and runs on";
    const std::string& line = lines[0];
    size_t xs = line.find_first_of('x');
    size_t lastX = line.find_last_of('x');
    EXPECT_EQ(TRACE_BUFFER_CHARS - 1, lastX - xs + 1);
    EXPECT_NE(std::string::npos, line.find("# 2 # after", lastX));
}

TEST_F(TraceTest, ThreadsNeverInterleaveWithinALine)
{
    ASSERT_EQ(0, traceOpen(1, path.c_str(), 0));
    const int threads = 6;
    const int perThread = 150;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            std::wstring payload(200 + 37 * t, wchar_t(L'a' + t));
            for (int i = 0; i < perThread; ++i)
                traceWrite(__FILE__, 100 + t, L"worker %d line %d %s\n", t, i, payload.c_str());
        });
    }
    for (std::thread& w : workers)
        w.join();

    std::vector<std::string> lines = traceLines(path);
    ASSERT_EQ(size_t(threads * perThread), lines.size());
    std::vector<int> next(threads, 0);
    std::regex shape(std::string(kHeader) + R"(trace_test\.cpp # (\d+) # worker (\d) line (\d+) ([a-z]+))");
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line.substr(0, 120);
        int t = std::stoi(m[2]);
        EXPECT_EQ(100 + t, std::stoi(m[1]));
        EXPECT_EQ(next[t]++, std::stoi(m[3])) << "lines of one thread stay in order";
        EXPECT_EQ(std::string(200 + 37 * t, char('a' + t)), m[4].str());
    }
}
