#include <gtest/gtest.h>

#include <omp.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/SystemUtils.h"
#include "common/TestUtil.h"
#include "ui/ActiveObject.h"
#include "ui/ConsoleInterface.h"
#include "ui/UserInterface.h"

namespace {

// Records what the console sends to the application.
class FakeApplication : public TActiveObject {
public:
    void HandleMessage(TMessage& message) override {
        if (message.id == kMsgGetApplicationInfo) {
            auto& info = static_cast<ui::TGetApplicationInfoMessage&>(message);
            info.answer = "Fake 1.0";
            info.answered = true;
            return;
        }
        ids.push_back(message.id);
        if (auto* file = dynamic_cast<ui::TFileNameMessage*>(&message))
            files.push_back(file->fileName);
    }

    std::vector<std::uint32_t> ids;
    std::vector<std::string> files;
};

// A console reading from a pipe the test writes into.
class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(fds_), 0);
        console_ = std::make_unique<ui::TConsoleInterface>(fds_[0], out_, err_);
    }
    void TearDown() override {
        console_.reset();
        close(fds_[0]);
        if (fds_[1] >= 0)
            close(fds_[1]);
    }
    void Type(const std::string& text) { ASSERT_EQ(write(fds_[1], text.data(), text.size()), ssize_t(text.size())); }
    void EndInput() {
        close(fds_[1]);
        fds_[1] = -1;
    }
    void Connect() {
        console_->Connect(&app_);
        app_.ProcessMessages();
        out_.str("");
    }
    // Executes every complete line typed so far.
    void Pump(int steps) {
        for (int i = 0; i < steps; ++i) {
            console_->ProcessMessages();
            app_.ProcessMessages();
        }
    }

    int fds_[2] = {-1, -1};
    std::ostringstream out_, err_;
    std::unique_ptr<ui::TConsoleInterface> console_;
    FakeApplication app_;
};

} // namespace

TEST_F(ConsoleTest, StartAndConnectPrintTheirLines) {
    console_->Start();
    EXPECT_NE(out_.str().find("\nSimple Console Interface\nTrace Mode ON!\n"), std::string::npos);
    out_.str("");
    console_->Connect(&app_);
    EXPECT_EQ(out_.str(), "Connected to application. Application Information:\nFake 1.0\n");
}

// One line is executed per idle step.
TEST_F(ConsoleTest, CommandsAreCaseInsensitiveAndMapToMessages) {
    Connect();
    Type("start\nSTOP\nSuspend\nresume\ncontinue\nQuit\nstatus\nSaveState\n");
    Pump(1);
    EXPECT_EQ(app_.ids.size(), 1u);
    Pump(7);
    EXPECT_EQ(app_.ids, (std::vector<std::uint32_t>{kMsgStart, kMsgStop, kMsgSuspend, kMsgResume, kMsgResume,
                                                     kMsgQuit, kMsgStatus, kMsgSaveState}));
    EXPECT_EQ(err_.str(), "");
}

// Arguments are split at blanks, tabs and carriage returns; file commands without
// one use the default file.
TEST_F(ConsoleTest, FileArgumentsAndTheirDefaults) {
    Connect();
    Type("  Init \t my.ini  extra\r\ninit\nloadscene\n");
    Pump(3);
    EXPECT_EQ(app_.ids, (std::vector<std::uint32_t>{kMsgInit, kMsgInit, kMsgLoadScene}));
    EXPECT_EQ(app_.files, (std::vector<std::string>{"my.ini", "tarvo.ini", "scene.ini"}));
    EXPECT_EQ(err_.str(), "File name not specified. Use tarvo.ini by default.\n"
                          "File Name expected. Use scene.ini by default.\n");
}

TEST_F(ConsoleTest, EmptyLinesDoNothingUnknownCommandAndNotImplementedAreErrors) {
    Connect();
    Type("\n   \n\t\r\nfrobnicate now\nLoadState\n");
    Pump(5);
    EXPECT_TRUE(app_.ids.empty());
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(err_.str(), "Unknown command: 'frobnicate'\nNot implemented.\n");
}

TEST_F(ConsoleTest, HelpListsEveryCommand) {
    Connect();
    Type("HELP\n");
    Pump(1);
    EXPECT_EQ(out_.str(), "Possible commands:\nStart\nSuspend\nResume\nSaveState\nStop\nQuit\nStatus\n"
                          "Init <tarvo.ini>\nLoadScene <scene.ini>\nCompress <srcfile> <dstfile>\n"
                          "Decompress <srcfile> <dstfile>\n");
}

TEST_F(ConsoleTest, CommandsWithoutApplicationReportIt) {
    Type("start\napplicationinfo\n");
    Pump(2);
    EXPECT_EQ(err_.str(), "Can not send message to Application: Application is not connected\n");
    EXPECT_EQ(out_.str(), "Not connected to application.\n");
}

TEST_F(ConsoleTest, LastLineWithoutLineFeedRunsOnceInputEnds) {
    Connect();
    Type("start\nstop");
    Pump(1);
    EXPECT_EQ(app_.ids.size(), 1u);
    EndInput();
    Pump(2);
    EXPECT_EQ(app_.ids, (std::vector<std::uint32_t>{kMsgStart, kMsgStop}));
    EXPECT_TRUE(console_->IsInputClosed());
}

TEST_F(ConsoleTest, QuestionAcceptsOnlyItsAnswersAndDiscardsTheRestOfTheLine) {
    Type("maybe\nyes please\n");
    EXPECT_EQ(console_->AskQuestion(ui::TDialogMessage::kYesNo, "Sure?"), ui::TDialogMessage::kYes);
    EXPECT_EQ(out_.str(), "Sure? (Yes/No) [Y/N] Sure? (Yes/No) [Y/N] ");
    Type("c\nN\n");
    EXPECT_EQ(console_->AskQuestion(ui::TDialogMessage::kYesNo, "Again?"), ui::TDialogMessage::kNo);
    Type("C\nstart\n");
    EXPECT_EQ(console_->AskQuestion(ui::TDialogMessage::kYesNoCancel, "Three?"), ui::TDialogMessage::kCancel);
    Connect();
    Pump(1);
    EXPECT_EQ(app_.ids, (std::vector<std::uint32_t>{kMsgStart})); // the line after the answers is intact
}

TEST_F(ConsoleTest, QuestionAtEndOfInputTakesTheAnswerThatChangesNothing) {
    EndInput();
    EXPECT_EQ(console_->AskQuestion(ui::TDialogMessage::kYesNoCancel, "Three?"), ui::TDialogMessage::kCancel);
    EXPECT_EQ(console_->AskQuestion(ui::TDialogMessage::kYesNo, "Two?"), ui::TDialogMessage::kNo);
}

TEST_F(ConsoleTest, GetStringTrimsAndFallsBackToDefault) {
    Type("  2e6 \r\n\n");
    EXPECT_EQ(console_->GetString("Total", "100"), "2e6");
    EXPECT_EQ(out_.str(), "Total [100]: ");
    EXPECT_EQ(console_->GetString("Total", "100"), "100");
    EndInput();
    EXPECT_EQ(console_->GetString("Name", ""), "");
}

TEST_F(ConsoleTest, InterruptFlagBecomesQuitCommand) {
    Connect();
    g_interruptFlag.store(1);
    Pump(1);
    EXPECT_EQ(g_interruptFlag.load(), 2);
    EXPECT_EQ(app_.ids, (std::vector<std::uint32_t>{kMsgQuit}));
    g_interruptFlag.store(0);
}

TEST_F(ConsoleTest, RepeatedDisplayTextShowsCount) {
    TMessage ready(kMsgReady);
    console_->HandleMessage(ready);
    ui::TDisplayTextMessage text("Lost photon", true);
    text.repeatCount = 5;
    console_->HandleMessage(text);
    EXPECT_EQ(out_.str(), "Ready.\n");
    EXPECT_EQ(err_.str(), "Lost photon (repeated 5 times)\n");
}

TEST_F(ConsoleTest, CompressChecksArgumentsAndSource) {
    Connect();
    testutil::TempDir dir;
    // A directory opens for reading but cannot be read: refused before the overwrite question.
    testutil::WriteFile(dir.File("important.xrc"), "keep me");
    // A compressed stream cut short fails while copying (the target is kept: datafiles' tests).
    testutil::WriteFile(dir.File("cut.xrc"), "XRTC\x12\xc0");
    Type("compress only-one\ndecompress /nonexistent/file.xrc out.txt\ncompress " + dir.Path() + " " +
         dir.File("important.xrc") + "\ndecompress " + dir.File("cut.xrc") + " " + dir.File("cut.txt") + "\n");
    Pump(4);
    EXPECT_EQ(err_.str(), "Usage: compress <source file> <target file>\n"
                          "Couldn't open /nonexistent/file.xrc for reading\n"
                          "Couldn't open " + dir.Path() + " for reading\n"
                          "Not enough bits in input! while reading " + dir.File("cut.xrc") + "\n");
    EXPECT_EQ(testutil::ReadFile(dir.File("important.xrc")), "keep me");
}

TEST_F(ConsoleTest, CompressAndDecompressRoundTripWithOverwriteQuestion) {
    testutil::TempDir dir;
    const std::string text = "[ApplicationTask]\n\tNumberOfParticles = 1000\n[EndApplicationTask]\n";
    testutil::WriteFile(dir.File("a.ini"), text);
    Connect();
    Type("compress " + dir.File("a.ini") + " " + dir.File("a.xrc") + "\n");
    Type("decompress " + dir.File("a.xrc") + " " + dir.File("b.ini") + "\n");
    Pump(2);
    EXPECT_EQ(err_.str(), "");
    EXPECT_EQ(testutil::ReadFile(dir.File("a.xrc")).substr(0, 4), "XRTC");
    EXPECT_EQ(testutil::ReadFile(dir.File("b.ini")), text);

    // An existing target is replaced only after a yes.
    testutil::WriteFile(dir.File("b.ini"), "keep me");
    Type("decompress " + dir.File("a.xrc") + " " + dir.File("b.ini") + "\nn\n");
    Pump(1);
    EXPECT_NE(out_.str().find("Overwrite " + dir.File("b.ini") + "? (Yes/No) [Y/N] "), std::string::npos);
    EXPECT_EQ(testutil::ReadFile(dir.File("b.ini")), "keep me");
    Type("decompress " + dir.File("a.xrc") + " " + dir.File("b.ini") + "\ny\n");
    Pump(1);
    EXPECT_EQ(testutil::ReadFile(dir.File("b.ini")), text);
}

namespace {

class RecordingObject : public TActiveObject {
public:
    void HandleMessage(TMessage& message) override {
        ids.push_back(message.id);
        repeats.push_back(message.repeatCount);
        TActiveObject::HandleMessage(message);
    }
    void Idle() override { ++idleSteps; }

    std::vector<std::uint32_t> ids;
    std::vector<std::uint32_t> repeats;
    int idleSteps = 0;
};

class RecordingInterface : public ui::TUserInterface {
public:
    void DisplayText(const std::string& text, bool, bool isError) override {
        lines.push_back((isError ? "E:" : "O:") + text);
    }
    int AskQuestion(int, const std::string&) override { return 1; }
    void Start() override {}
    std::string GetString(const std::string&, const std::string& d) override { return d; }
    void FlushInput() override {}

    std::vector<std::string> lines;
};

} // namespace

TEST(ActiveObject, DrainsPostedMessagesInOrder) {
    RecordingObject object;
    for (std::uint32_t id : {103u, 104u, 105u})
        object.Post(TMessage(id));
    object.ProcessMessages();
    EXPECT_EQ(object.ids, (std::vector<std::uint32_t>{103, 104, 105}));
    EXPECT_EQ(object.idleSteps, 1);
    EXPECT_EQ(object.QueuedCount(), 0u);
}

TEST(ActiveObject, CollapsesOnlyConsecutiveSameDisplayTexts) {
    RecordingObject object;
    for (int i = 0; i < 3; ++i)
        object.Post(ui::TDisplayTextMessage("same", true));
    object.Post(ui::TDisplayTextMessage("same", false)); // other stream: not the same
    object.Post(ui::TDisplayTextMessage("same", true));
    object.Post(TMessage(103));
    object.Post(TMessage(103)); // plain commands never collapse
    EXPECT_EQ(object.QueuedCount(), 5u);
    object.ProcessMessages();
    EXPECT_EQ(object.repeats, (std::vector<std::uint32_t>{3, 1, 1, 1, 1}));
}

TEST(ActiveObject, HeldMessageWaitsUntilSomethingFollowsIt) {
    RecordingObject object;
    TMessage held(109);
    held.held = 1;
    object.Post(held);
    object.ProcessMessages();
    EXPECT_TRUE(object.ids.empty());
    EXPECT_EQ(object.QueuedCount(), 1u);
    object.Post(TMessage(110));
    object.ProcessMessages();
    EXPECT_EQ(object.ids, (std::vector<std::uint32_t>{109, 110}));
}

TEST(ActiveObject, RunLoopEndsOnQuitMessage) {
    RecordingObject object;
    object.Post(TMessage(103));
    Stop(object); // not synchronous: queued behind the command
    object.Run();
    EXPECT_EQ(object.ids, (std::vector<std::uint32_t>{103, kMsgQuitLoop}));
    EXPECT_FALSE(object.IsRunning());
}

TEST(ActiveObject, SynchronousMessagesAreHandledAtOnce) {
    RecordingInterface ui;
    ui::TDialogMessage dialog("Sure?", ui::TDialogMessage::kYesNo);
    Send(ui, dialog);
    EXPECT_EQ(dialog.answer, ui::TDialogMessage::kYes);
    EXPECT_EQ(ui.QueuedCount(), 0u);
    TMessage start(kMsgStart);
    Send(ui, start);
    EXPECT_EQ(ui.QueuedCount(), 1u);
}

// Display texts on the main thread print at once; raised on worker threads they are
// queued, then printed by the main thread, repeats collapsed.
TEST(ActiveObject, DisplayTextIsImmediateOnTheMainThreadAndCollapsedFromWorkers) {
    RecordingInterface ui;
    ui::TDisplayTextMessage now("now", false);
    Send(ui, now);
    EXPECT_EQ(ui.lines, (std::vector<std::string>{"O:now"}));
    ui.lines.clear();
#pragma omp parallel num_threads(2)
    {
        if (omp_get_thread_num() == 1) {
            for (int i = 0; i < 5; ++i) {
                ui::TDisplayTextMessage message("Photon lost", true);
                Send(ui, message);
            }
        }
    }
    ui.ProcessMessages();
    ASSERT_EQ(ui.lines.size(), 1u);
    EXPECT_EQ(ui.lines[0], "E:Photon lost (repeated 5 times)");
}
