#include "ui/ActiveObject.h"
#include "ui/UserInterface.h"

#include <gtest/gtest.h>

#include <omp.h>
#include <string>
#include <vector>

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
