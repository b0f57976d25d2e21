#include "app/SystemUtils.h"
#include "app/TarvoApplication.h"
#include "common/ScriptedInterface.h"
#include "common/TestUtil.h"
#include "inifiles/IniFile.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace {

class ApplicationTest : public ::testing::Test {
protected:
    // Drives the application into a state the way the run driver would.
    void DriverReports(std::int32_t driverState) {
        TAlgorithmStateChangedMessage message(driverState, 0);
        app.HandleMessage(message);
    }
    std::string Command(std::uint32_t id) {
        ui.lines.clear();
        TMessage message(id);
        app.HandleMessage(message);
        return ui.lines.empty() ? std::string() : ui.lines.back();
    }

    testutil::ScriptedInterface ui;
    TTarvoApplication app{ui};
};

} // namespace

TEST_F(ApplicationTest, ConnectsToInterfaceAndAnswersInfo) {
    EXPECT_TRUE(ui.IsConnected());
    ui::TGetApplicationInfoMessage info;
    Send(app, info);
    EXPECT_TRUE(info.answered);
    EXPECT_EQ(info.answer, VersionBanner());
    EXPECT_EQ(app.GetState(), TTarvoApplication::kConstructed);
}

TEST_F(ApplicationTest, CommandsBeforeAnyConfiguration) {
    EXPECT_EQ(Command(kMsgStart), "Can not start calculations. Application is not initialized.");
    EXPECT_EQ(Command(kMsgSuspend), "Can not suspend. Calculations are not started.");
    EXPECT_EQ(Command(kMsgResume), "Can not resume. Calculations are not suspended.");
    EXPECT_EQ(Command(kMsgStop), "Can not stop. Calculations are not started.");
    EXPECT_EQ(Command(kMsgStatus), "E:No algorithm to query!");
    EXPECT_EQ(Command(kMsgSaveState), "E:No algorithm to query!");
    EXPECT_EQ(app.GetState(), TTarvoApplication::kConstructed);
}

TEST_F(ApplicationTest, DriverStateChangesMoveTheApplication) {
    const std::tuple<std::int32_t, TTarvoApplication::State, const char*> cases[] = {
        {TMonteCarloAlgorithm::kRunning, TTarvoApplication::kRunning, "Calculations running."},
        {TMonteCarloAlgorithm::kSuspended, TTarvoApplication::kSuspended, "Calculations suspended."},
        {TMonteCarloAlgorithm::kStopped, TTarvoApplication::kStopped, "Calculations stopped."},
        {TMonteCarloAlgorithm::kFinished, TTarvoApplication::kFinished, "Calculations finished."},
    };
    for (const auto& [driver, state, line] : cases) {
        DriverReports(driver);
        EXPECT_EQ(app.GetState(), state);
        EXPECT_EQ(ui.lines.back(), line);
    }
}

// While one command is processed the others are refused naming it.
TEST_F(ApplicationTest, AnswersWhileRunningSuspendedAndResuming) {
    DriverReports(TMonteCarloAlgorithm::kRunning);
    EXPECT_EQ(Command(kMsgResume), "Can not resume. Calculations are not suspended.");
    EXPECT_EQ(Command(kMsgSuspend), "Suspending calculations...");
    EXPECT_EQ(app.GetState(), TTarvoApplication::kSuspending);
    EXPECT_EQ(Command(kMsgSuspend), "Already processing the Suspend command...");
    EXPECT_EQ(Command(kMsgResume), "Processing the Suspend command...");
    EXPECT_EQ(Command(kMsgStop), "Processing the Suspend command...");
    DriverReports(TMonteCarloAlgorithm::kSuspended);
    EXPECT_EQ(Command(kMsgSuspend), "Calculations already suspended.");
    EXPECT_EQ(Command(kMsgResume), "Resuming calculations...");
    EXPECT_EQ(app.GetState(), TTarvoApplication::kResuming);
    EXPECT_EQ(Command(kMsgResume), "Already processing the Resume command...");
    EXPECT_EQ(Command(kMsgSuspend), "Processing the Resume command...");
    EXPECT_EQ(Command(kMsgStop), "Processing the Resume command...");
}

TEST_F(ApplicationTest, StopAsksWhenInteractiveAndDoesNothingOnNo) {
    DriverReports(TMonteCarloAlgorithm::kSuspended);
    ui.answers = {ui::TDialogMessage::kNo};
    Command(kMsgStop);
    EXPECT_EQ(ui.questions, (std::vector<std::string>{"This will stop calculations completely. Do you want to stop?"}));
    EXPECT_EQ(app.GetState(), TTarvoApplication::kSuspended);
    ui.answers = {ui::TDialogMessage::kYes};
    EXPECT_EQ(Command(kMsgStop), "Stopping calculations...");
    EXPECT_EQ(app.GetState(), TTarvoApplication::kStopping);
    EXPECT_EQ(Command(kMsgStop), "Already processing the Stop command...");
    EXPECT_EQ(Command(kMsgStart), "Can not start calculations. Application is not initialized.");
    DriverReports(TMonteCarloAlgorithm::kStopped);
    EXPECT_EQ(app.GetState(), TTarvoApplication::kStopped);
    EXPECT_EQ(Command(kMsgStop), "Can not stop. Calculations are not started.");
}

TEST_F(ApplicationTest, StopWithoutQuestionWhenNotInteractive) {
    app.SetInteractive(false);
    DriverReports(TMonteCarloAlgorithm::kRunning);
    EXPECT_EQ(Command(kMsgStop), "Stopping calculations...");
    EXPECT_TRUE(ui.questions.empty());
}

TEST_F(ApplicationTest, DeclinedQuitClearsInterruptFlag) {
    g_interruptFlag.store(2);
    ui.answers = {ui::TDialogMessage::kNo};
    EXPECT_FALSE(app.Quit());
    EXPECT_EQ(g_interruptFlag.load(), 0);
    EXPECT_EQ(ui.questions, (std::vector<std::string>{"Do you really want to quit the application?"}));
    EXPECT_NE(app.GetState(), TTarvoApplication::kTerminating);
}

TEST_F(ApplicationTest, AcceptedQuitEndsTheRunLoop) {
    ui.answers = {ui::TDialogMessage::kYes};
    TMessage quit(kMsgQuit);
    app.Post(quit);
    app.Run(); // returns only because the quit was accepted
    EXPECT_EQ(app.GetState(), TTarvoApplication::kTerminating);
    EXPECT_EQ(Command(kMsgStart), "Can not start calculations. Application is not initialized.");
}

TEST_F(ApplicationTest, EndOfInputQuitsWithoutQuestionsOnceIdle) {
    ui.inputClosed = true;
    app.Run();
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_EQ(app.GetState(), TTarvoApplication::kTerminating);
}

TEST_F(ApplicationTest, DriverWithNothingToDoEndsTheRunLoop) {
    TAlgorithmStateChangedMessage done(TMonteCarloAlgorithm::kNothingToDo, TMonteCarloAlgorithm::kFinished);
    app.Post(done);
    app.Run();
    EXPECT_FALSE(app.IsRunning());
}

TEST_F(ApplicationTest, DisplayTextMessagesArePassedToTheInterface) {
    ui::TDisplayTextMessage text("From a tracer", true);
    text.synchronous = 0;
    app.Post(text);
    TMessage stop(kMsgQuitLoop);
    app.Post(stop);
    app.Run();
    EXPECT_EQ(ui.lines, (std::vector<std::string>{"E:From a tracer"}));
}

TEST_F(ApplicationTest, FailedInitCommandIsReportedNotFatal) {
    ui::TFileNameMessage init(kMsgInit, "/nonexistent/tarvo.ini");
    app.HandleMessage(init);
    EXPECT_EQ(ui.lines, (std::vector<std::string>{"E:Can not open file for reading: /nonexistent/tarvo.ini"}));
}

TEST_F(ApplicationTest, LoadingIsRefusedWhileARunExists) {
    DriverReports(TMonteCarloAlgorithm::kSuspended);
    ui.lines.clear();
    ui::TFileNameMessage init(kMsgInit, "tarvo.ini");
    app.HandleMessage(init);
    ui::TFileNameMessage scene(kMsgLoadScene, "scene.ini");
    app.HandleMessage(scene);
    EXPECT_EQ(ui.lines, (std::vector<std::string>{"E:Can not read a configuration while calculations are running.",
                                                   "E:Can not load scene. Application is not initialized."}));
}

TEST_F(ApplicationTest, DetectorModelsAreKeptInTheConfigurationWithTheirBasePath) {
    testutil::TempDir dir;
    std::filesystem::create_directory(dir.File("models"));
    testutil::WriteFile(dir.File("models/m.txt"), "#Tarvo\t0\tM\tSimpleDetSpline\t3\n10 0.5 10\n");
    testutil::WriteFile(dir.File("models/detectors.ini"),
                        "[Detectors]\n[M]\nDataFile = m.txt\n[EndM]\n[EndDetectors]\n");
    testutil::WriteFile(dir.File("run.ini"),
                        "[ApplicationTask]\nNumberOfParticles = 10\n[EndApplicationTask]\n"
                        "[DataSources]\nDetectorsFileName = models/detectors.ini\n[EndDataSources]\n"
                        "[Objects]\n[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (1, 0, 0)\n"
                        "Side2 = (0, 1, 0)\nDetectorModel = M\n[EndObject]\n[EndObjects]\n");
    ASSERT_TRUE(app.Initialize(dir.File("run.ini"), false));
    const inifiles::TIniFileVariable& file =
        app.Configuration().FindSection("Detectors").FindSubsection("M").FindVariable("DataFile");
    EXPECT_EQ(std::filesystem::path(inifiles::MakePath(file, file.GetValue())),
              std::filesystem::path(dir.File("models/m.txt")));
}

TEST_F(ApplicationTest, TheLoadedSceneStillReportsAfterLoading) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("run.ini"),
                        "[ApplicationTask]\nNumberOfParticles = 10\n[EndApplicationTask]\n"
                        "[Objects]\n[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\n"
                        "Side1 = (1, 0, 0)\nSide2 = (0, 1, 0)\n[EndObject]\n[EndObjects]\n");
    ASSERT_TRUE(app.Initialize(dir.File("run.ini"), false));
    ui.lines.clear();
    app.Scene()->GetMessageSink()("Reported by a scene object\n", false);
    EXPECT_EQ(ui.lines, (std::vector<std::string>{"Reported by a scene object"}));
}
