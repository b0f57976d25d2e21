#include "app/StartUp.h"
#include "app/SystemUtils.h"
#include "common/TestUtil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using testutil::RunTarvo;

// The messages of the refused values are checked through the program below.
TEST(CommandLineValues, InteractiveThreadsAndPriority) {
    EXPECT_TRUE(ParseInteractiveValue("1"));
    EXPECT_FALSE(ParseInteractiveValue("0"));
    EXPECT_TRUE(ParseInteractiveValue("true"));
    EXPECT_FALSE(ParseInteractiveValue("FALSE"));
    EXPECT_EQ(ParseThreadCount("0"), 0);
    EXPECT_EQ(ParseThreadCount("8"), 8);
    EXPECT_THROW(ParseThreadCount("many"), std::runtime_error);
    const std::pair<const char*, int> priorities[] = {
        {"IDLE", 20}, {"high", -20}, {"Above", -10}, {"below", 10}, {"normal", 0}, {"5x", 5}, {"-7", -7}};
    for (const auto& [word, value] : priorities)
        EXPECT_EQ(ParsePriority(word), value) << word;
}

TEST(StartUp, PipedSessionFromStartToQuit) {
    const auto r = RunTarvo({}, "start\nhelp\nfrobnicate\nquit\ny\n");
    EXPECT_EQ(r.exitCode, 0);
    for (const char* line : {"Simple Console Interface\n", "Trace Mode ON!\n",
                             "Connected to application. Application Information:\n",
                             "Tarvo v2.0.7-0-g6a7a6ef 64bit OpenMP\n", "OpenMP Threads: ",
                             "Can not start calculations. Application is not initialized.\n",
                             "Possible commands:\nStart\n", "Decompress <srcfile> <dstfile>\n",
                             "Do you really want to quit the application? (Yes/No) [Y/N] "})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    EXPECT_NE(r.err.find("Unknown command: 'frobnicate'"), std::string::npos);
    // The start lines come first, in order.
    EXPECT_LT(r.out.find("Simple Console Interface"), r.out.find("Trace Mode ON!"));
    EXPECT_LT(r.out.find("Trace Mode ON!"), r.out.find("Connected to application."));
    EXPECT_LT(r.out.find("64bit OpenMP"), r.out.find("OpenMP Threads: "));
}

TEST(StartUp, ArgumentsThatEndTheProgram) {
    const struct {
        std::vector<std::string> args;
        std::vector<const char*> messages;
        bool onStandardOutput;
    } cases[] = {
        {{"--threads"}, {"Unknown command line argument: --threads"}, false},
        {{"--threads", "-3"}, {"Invalid number of threads: -3"}, false},
        {{"", "--frobnicate"},
         {"Empty command line argument?!\n", "Unknown command line argument: --frobnicate"},
         false},
        {{"--interactive", "perhaps"}, {"Error parsing: perhaps"}, false},
        {{"--nice", "Fast"}, {"Unable to parse priority value: fast"}, false},
        {{"--workingdir", "/nonexistent/dir"},
         {"Couldn't change working directory to /nonexistent/dir"},
         false},
        {{"--logfile", "/proc/version/tarvo.log"}, {"Unable to open /proc/version/tarvo.log"}, false},
        // A failed configuration does not stop later arguments; after "--" a name
        // beginning with a minus sign is a configuration file too.
        {{"missing-one.ini", "--", "-missing-two.ini"}, {"missing-one.ini", "-missing-two.ini"}, false},
        {{"--restore", "missing.state"}, {"Attempting to parse configuration from missing.state"}, true},
    };
    for (const auto& c : cases) {
        const auto r = RunTarvo(c.args);
        EXPECT_EQ(r.exitCode, 255) << c.messages[0];
        for (const char* message : c.messages)
            EXPECT_NE((c.onStandardOutput ? r.out : r.err).find(message), std::string::npos)
                << message << r.err;
    }
}

TEST(StartUp, ThreadCountIsSetAndReprinted) {
    auto r = RunTarvo({"--threads", "0"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(testutil::CountOf(r.out, "OpenMP Threads: "), 2);
    r = RunTarvo({"--threads", "3"});
    EXPECT_NE(r.out.find("OpenMP Threads: 3\n"), std::string::npos);
}

TEST(StartUp, EndOfInputEndsTheProgram) {
    auto r = RunTarvo({"--nice", "IDLE"}, "", 20.0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    r = RunTarvo({}, "quit\n", 20.0); // the question is answered by the end of input
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Do you really want to quit the application?"), std::string::npos);
}

TEST(StartUp, LogFileReceivesLaterOutputOnly) {
    testutil::TempDir dir;
    const std::string first = dir.File("logs/first.log"), second = dir.File("second.log");
    const auto r = RunTarvo({"--logfile", first, "--threads", "0", "--logfile", second, "--threads", "0"},
                            "frobnicate\n");
    EXPECT_EQ(r.exitCode, 0);
    const std::string one = testutil::ReadFile(first), two = testutil::ReadFile(second);
    // Each log starts with the start line and the banner, written to the file only.
    EXPECT_NE(one.find("\nTarvo v2.0.7-0-g6a7a6ef 64bit OpenMP\nOpenMP Threads: "), std::string::npos);
    EXPECT_EQ(testutil::CountOf(one, "OpenMP Threads: "), 1);
    EXPECT_EQ(one.find("frobnicate"), std::string::npos);
    EXPECT_EQ(testutil::CountOf(two, "OpenMP Threads: "), 1);
    EXPECT_NE(two.find("Unknown command: 'frobnicate'"), std::string::npos);
    EXPECT_EQ(testutil::CountOf(r.out, "Tarvo v2.0.7-0-g6a7a6ef 64bit OpenMP"), 1);
}

TEST(StartUp, InterruptAsksToQuitAndDeclineKeepsRunning) {
    testutil::ChildProcess child(TARVO_EXE, {});
    ASSERT_TRUE(child.WaitForOutput("OpenMP Threads: "));
    child.Signal(SIGINT);
    ASSERT_TRUE(child.WaitForOutput("Do you really want to quit the application? (Yes/No) [Y/N] "));
    // Declining clears the interrupt, so the next one is handled the same way; the
    // help text shows that the answer has been taken.
    child.Write("n\nhelp\n");
    ASSERT_TRUE(child.WaitForOutput("Possible commands:"));
    child.Signal(SIGINT);
    ASSERT_TRUE(child.WaitForOutput("Decompress <srcfile> <dstfile>\nDo you really want to quit the application?"));
    const auto r = child.Finish("y\n", 20.0);
    EXPECT_EQ(r.exitCode, 254); // ended by an interrupt
}

TEST(StartUp, SecondInterruptWhilePendingEndsAtOnce) {
    testutil::ChildProcess child(TARVO_EXE, {});
    ASSERT_TRUE(child.WaitForOutput("OpenMP Threads: "));
    child.Signal(SIGINT);
    ASSERT_TRUE(child.WaitForOutput("[Y/N] "));
    child.Signal(SIGTERM);
    const auto r = child.Finish("", 20.0);
    EXPECT_EQ(r.exitCode, 255);
}
