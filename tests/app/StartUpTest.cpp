#include "app/StartUp.h"
#include "app/SystemUtils.h"
#include "common/TestUtil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>

using testutil::RunTarvo;

TEST(CommandLineValues, InteractiveTakesNumberOrWord) {
    EXPECT_TRUE(ParseInteractiveValue("1"));
    EXPECT_FALSE(ParseInteractiveValue("0"));
    EXPECT_TRUE(ParseInteractiveValue("true"));
    EXPECT_FALSE(ParseInteractiveValue("FALSE"));
    try {
        ParseInteractiveValue("maybe");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Error parsing: maybe");
    }
}

TEST(CommandLineValues, ThreadCountMustBeNonNegativeInteger) {
    EXPECT_EQ(ParseThreadCount("0"), 0);
    EXPECT_EQ(ParseThreadCount("8"), 8);
    EXPECT_THROW(ParseThreadCount("many"), std::runtime_error);
    try {
        ParseThreadCount("-3");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid number of threads: -3");
    }
}

TEST(CommandLineValues, PriorityWordsAndNumbers) {
    EXPECT_EQ(ParsePriority("IDLE"), 20);
    EXPECT_EQ(ParsePriority("high"), -20);
    EXPECT_EQ(ParsePriority("Above"), -10);
    EXPECT_EQ(ParsePriority("below"), 10);
    EXPECT_EQ(ParsePriority("normal"), 0);
    EXPECT_EQ(ParsePriority("5x"), 5);
    EXPECT_EQ(ParsePriority("-7"), -7);
    try {
        ParsePriority("Fast");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unable to parse priority value: fast");
    }
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

TEST(StartUp, OptionWithoutValueIsUnknown) {
    const auto r = RunTarvo({"--threads"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.err.find("Unknown command line argument: --threads"), std::string::npos);
}

TEST(StartUp, NegativeThreadCountFails) {
    const auto r = RunTarvo({"--threads", "-3"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.err.find("Invalid number of threads: -3"), std::string::npos);
}

TEST(StartUp, ThreadCountIsSetAndReprinted) {
    auto r = RunTarvo({"--threads", "0"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(testutil::CountOf(r.out, "OpenMP Threads: "), 2);
    r = RunTarvo({"--threads", "3"});
    EXPECT_NE(r.out.find("OpenMP Threads: 3\n"), std::string::npos);
}

TEST(StartUp, EndOfInputEndsTheProgram) {
    const auto r = RunTarvo({}, "", 20.0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
}

TEST(StartUp, QuitAnsweredByEndOfInputStillEnds) {
    const auto r = RunTarvo({}, "quit\n", 20.0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Do you really want to quit the application?"), std::string::npos);
}

TEST(StartUp, UnknownOptionsAndEmptyArguments) {
    auto r = RunTarvo({"", "--frobnicate"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.err.find("Empty command line argument?!\n"), std::string::npos);
    EXPECT_NE(r.err.find("Unknown command line argument: --frobnicate"), std::string::npos);
    r = RunTarvo({"--interactive", "perhaps"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.err.find("Error parsing: perhaps"), std::string::npos);
    r = RunTarvo({"--nice", "fast"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.err.find("Unable to parse priority value: fast"), std::string::npos);
    r = RunTarvo({"--workingdir", "/nonexistent/dir"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.err.find("Couldn't change working directory to /nonexistent/dir"), std::string::npos);
}

TEST(StartUp, FailedConfigurationsDoNotStopLaterArguments) {
    // After "--" a name beginning with a minus sign is a configuration file too.
    const auto r = RunTarvo({"missing-one.ini", "--", "-missing-two.ini"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.err.find("missing-one.ini"), std::string::npos);
    EXPECT_NE(r.err.find("-missing-two.ini"), std::string::npos);
}

TEST(StartUp, RestoreFallsBackToParsingTheFile) {
    const auto r = RunTarvo({"--restore", "missing.state"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.out.find("Attempting to parse configuration from missing.state"), std::string::npos);
}

TEST(StartUp, NiceWordIsAccepted) {
    const auto r = RunTarvo({"--nice", "IDLE"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
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

TEST(StartUp, UnopenableLogFileFails) {
    const auto r = RunTarvo({"--logfile", "/proc/version/tarvo.log"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.err.find("Unable to open /proc/version/tarvo.log"), std::string::npos);
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
