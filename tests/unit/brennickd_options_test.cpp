#include <gtest/gtest.h>

#include "brennickd/options.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

// What the service manager hands back must be what was given: a folder with
// a trailing backslash, blanks, quotes.
TEST(ServiceArguments, ReadBackAsGiven)
{
    std::vector<std::string> args = {"--install-service", "--state", "C:\\Brennick\\state\\",
                                     "--token-file", "C:\\Program Files\\Brennick\\token \"x\".txt",
                                     "--allow-origin", "https://pos.example"};
    std::string line, message;
#ifdef _WIN32
    ASSERT_TRUE(ServiceArguments(args, &line, &message)) << message;
    std::wstring wide(line.begin(), line.end());
    int count = 0;
    LPWSTR* read = CommandLineToArgvW((L"brennickd.exe " + wide).c_str(), &count);
    ASSERT_EQ(count, 8);
    EXPECT_EQ(std::wstring(read[1]), L"--service");
    for (int i = 2; i < count; ++i)
        EXPECT_EQ(std::wstring(read[i]), std::wstring(args[i - 1].begin(), args[i - 1].end())) << i;
    LocalFree(read);
    EXPECT_FALSE(ServiceArguments({"--install-service", "--state", "state"}, &line, &message));
#else
    EXPECT_EQ(QuoteArgument("C:\\Brennick\\state\\"), "\"C:\\Brennick\\state\\\\\"");
    EXPECT_EQ(QuoteArgument("a \\\"b\\\""), "\"a \\\\\\\"b\\\\\\\"\"");
    EXPECT_FALSE(ServiceArguments({"--state", "state"}, &line, &message));
    EXPECT_NE(message.find("a service needs a full path"), std::string::npos);
#endif
    // How to register is no argument of the service's.
#ifdef _WIN32
    const std::string folder = "C:\\state";
#else
    const std::string folder = "/state";
#endif
    ASSERT_TRUE(ServiceArguments({"--install-service", "--keep-registered", "--account", "LocalSystem", "--state",
                                  folder, "--start"}, &line, &message)) << message;
    EXPECT_EQ(line, "--service \"--state\" " + QuoteArgument(folder));
}

// An installer passes the origins in one property, separated by commas.
TEST(Options, OriginsSeparatedByCommas)
{
    Options o;
    std::string message;
    ASSERT_TRUE(ParseOptions({"--token-file", "t", "--state", "s", "--allow-origin",
                              "https://a.example,http://127.0.0.1:9000"},
                             &o, &message))
        << message;
    EXPECT_EQ(o.allowedOrigins, (std::vector<std::string>{"https://a.example", "http://127.0.0.1:9000"}));
    Options p;
    EXPECT_FALSE(ParseOptions({"--token-file", "t", "--state", "s", "--allow-origin", "https://a.example,"}, &p,
                              &message));
}
