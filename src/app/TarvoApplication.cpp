#include "app/TarvoApplication.h"

#include "app/SystemUtils.h"
#include "datafiles/XRTCStream.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

TTarvoApplication::TTarvoApplication(ui::TUserInterface& userInterface) : ui_(userInterface) {
    ui_.Connect(this);
}

TTarvoApplication::~TTarvoApplication() { ui_.Connect(nullptr); }

void TTarvoApplication::DisplayText(const std::string& text, bool isError) {
    ui::TDisplayTextMessage message(text, isError);
    Send(ui_, message);
}

bool TTarvoApplication::AskYesNo(const std::string& question) {
    ui::TDialogMessage message(question, ui::TDialogMessage::kYesNo);
    Send(ui_, message);
    return message.answer == ui::TDialogMessage::kYes;
}

bool TTarvoApplication::IsAttended() const { return interactive_ && !ui_.IsInputClosed(); }

bool TTarvoApplication::IsCalculating() const {
    switch (state_) {
    case kStarting:
    case kRunning:
    case kSuspending:
    case kResuming:
    case kStopping:
        return true;
    default:
        return false;
    }
}

void TTarvoApplication::HandleMessage(TMessage& message) {
    switch (message.id) {
    case kMsgQuit:
        Quit();
        break;
    case kMsgGetApplicationInfo: {
        auto& info = static_cast<ui::TGetApplicationInfoMessage&>(message);
        info.answer = VersionBanner();
        info.answered = true;
        break;
    }
    case kMsgStart:
        Start();
        break;
    case kMsgSuspend:
        Suspend();
        break;
    case kMsgResume:
        Resume();
        break;
    case kMsgStop:
        Stop();
        break;
    case kMsgStatus:
        if (driver_)
            driver_->PrintStatus();
        else
            DisplayText("No algorithm to query!", true);
        break;
    case kMsgSaveState:
        if (driver_)
            driver_->SaveStateNow();
        else
            DisplayText("No algorithm to query!", true);
        break;
    case kMsgDisplayText:
        Send(ui_, message);
        break;
    case kMsgInit: {
        // A typing error in an interactive Init must not end the program: report it and carry on.
        const auto& file = static_cast<ui::TFileNameMessage&>(message);
        try {
            Initialize(file.fileName, false);
        } catch (const std::exception& error) {
            DisplayText(error.what(), true);
        }
        break;
    }
    case kMsgLoadScene:
        DisplayText("Can not load scene: scenes are not supported yet.", true);
        break;
    case kMsgAlgorithmStateChanged:
        OnAlgorithmStateChanged(static_cast<TAlgorithmStateChangedMessage&>(message).newState);
        break;
    case kMsgCalculationsFinished: {
        const double seconds = static_cast<TAlgorithmCalculationsFinishedMessage&>(message).seconds;
        std::ostringstream text;
        text << "Elapsed time: " << seconds << " seconds (" << FormatDuration(seconds) << ").";
        DisplayText(text.str());
        break;
    }
    case kMsgAlgorithmProgress:
        DisplayText(static_cast<TAlgorithmProgressMessage&>(message).line);
        break;
    default:
        TActiveObject::HandleMessage(message);
        break;
    }
}

void TTarvoApplication::Idle() {
    ui_.ProcessMessages();
    if (driver_)
        driver_->ProcessMessages();
    // Once the input has ended no command can ever come: leave as soon as nothing runs.
    if (ui_.IsInputClosed() && IsRunning() && !IsCalculating()) {
        QuitUnattended();
        return;
    }
    if (!driver_ || driver_->GetState() != TMonteCarloAlgorithm::kRunning)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

namespace {

// The file name without the extension of its last component ("dir.v2/run" keeps its dots).
std::string WithoutExtension(const std::string& name) {
    const auto slash = name.find_last_of('/');
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return name;
    return name.substr(0, dot);
}

std::string FileNamePart(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string TTarvoApplication::ResultPrefix() const {
    return inifiles::JoinPath(parameters_.ResultDir, resultBaseName_);
}

void TTarvoApplication::ReadConfiguration(const std::string& fileName, inifiles::TIniFileStructure& tree) const {
    tree.SetBasePath(fileName == "-" ? std::string() : inifiles::DirectoryPart(fileName));
    tree.SetRestored(false);
    // Through the compressed stream, which passes plain text through unchanged.
    const auto stream = fileName == "-" ? datafiles::OpenInputStream(ui_.CommandInput())
                                        : datafiles::OpenInputFile(fileName);
    tree.ReadFrom(*stream, fileName == "-" ? std::string("standard input") : fileName);
}

bool TTarvoApplication::Initialize(const std::string& fileName, bool) {
    // Replacing the configuration deletes the scene that running tracers are using.
    if (IsCalculating() || state_ == kSuspended)
        throw std::runtime_error("Can not read a configuration while calculations are running.");
    const std::string name = fileName == "-" ? std::string("tarvo") : fileName;

    // Read into a new tree and block, so a failed Init leaves the loaded configuration intact.
    inifiles::TIniFileStructure tree;
    ReadConfiguration(fileName, tree);
    DisplayText("Reading parameters...");
    TSimulationParameters parameters;
    try {
        parameters.ReadParameters(tree, WithoutExtension(name),
                                  [this](const std::string& text, bool isError) { DisplayText(text, isError); });
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string(error.what()) + " while parsing " + fileName);
    }
    configuration_ = std::move(tree);
    parameters_ = parameters;
    resultBaseName_ = FileNamePart(name);
    sceneInitialized_ = false;
    initialized_ = true;
    state_ = kInitialized;
    DisplayText("Reading parameters done.");

    CreateResultDirectory();
    if (parameters_.StartImmediately || fileName == "-" || !parameters_.SceneFileName.empty() ||
        configuration_.HasSection("Objects"))
        throw std::runtime_error("Can not load the scene of " + fileName + ": scenes are not supported yet.");

    const std::string summary = Summary();
    DisplayText(summary);
    WriteResultsHeader(summary);
    if (parameters_.StartImmediately || fileName == "-")
        Start();
    else
        DisplayText("Ready.");
    return true;
}

void TTarvoApplication::CreateResultDirectory() {
    const std::string& dir = parameters_.ResultDir;
    if (dir.empty())
        return;
    if (const int error = CreateDirectoryWithParents(dir))
        DisplayText("Couldn't create directory " + dir + " (" + std::to_string(error) + ")", true);
}

std::string TTarvoApplication::Summary() const {
    std::ostringstream summary;
    summary << std::boolalpha;
    parameters_.PrintSimulationSummary(summary);
    std::string text = summary.str();
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

void TTarvoApplication::WriteResultsHeader(const std::string& summary) const {
    const std::string fileName = ResultPrefix() + "_results.txt";
    const std::string temporary = fileName + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << GetStartLine() << '\n' << VersionBanner() << '\n' << summary << '\n';
        if (!file.flush()) {
            std::remove(temporary.c_str());
            throw std::runtime_error("Can not write " + fileName);
        }
    }
    if (std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("Can not write " + fileName);
    }
}

bool TTarvoApplication::RestoreState(const std::string&) { return false; }

bool TTarvoApplication::Start() {
    if (!initialized_ || state_ == kConstructed) {
        DisplayText("Can not start calculations. Application is not initialized.");
        return false;
    }
    if (!sceneInitialized_) {
        DisplayText("Can not start calculations. Scene is not initialized.");
        return false;
    }
    switch (state_) {
    case kTerminating:
        DisplayText("Can not start calculations. Application is terminating.");
        return false;
    case kStarting:
        DisplayText("Already processing the Start command...");
        return false;
    case kSuspending:
        DisplayText("Processing the Suspend command...");
        return false;
    case kResuming:
        DisplayText("Processing the Resume command...");
        return false;
    case kSuspended:
        if (IsAttended() && AskYesNo("Calculations currently suspended. Do you want to resume?"))
            Resume();
        return false;
    case kRunning:
    case kStopping:
        DisplayText("Calculations already started.");
        return false;
    default:
        break;
    }
    state_ = kStarting;
    DisplayText("Starting calculations...");
    DisplayText("Can not start calculations: the Monte Carlo run is not available yet.", true);
    state_ = kInitialized;
    return false;
}

void TTarvoApplication::Suspend() {
    switch (state_) {
    case kSuspended:
        DisplayText("Calculations already suspended.");
        break;
    case kSuspending:
        DisplayText("Already processing the Suspend command...");
        break;
    case kResuming:
        DisplayText("Processing the Resume command...");
        break;
    case kRunning:
        state_ = kSuspending;
        DisplayText("Suspending calculations...");
        if (driver_)
            driver_->RequestState(TMonteCarloAlgorithm::kSuspendRequested);
        break;
    default:
        DisplayText("Can not suspend. Calculations are not started.");
        break;
    }
}

void TTarvoApplication::Resume() {
    switch (state_) {
    case kSuspending:
        DisplayText("Processing the Suspend command...");
        break;
    case kResuming:
        DisplayText("Already processing the Resume command...");
        break;
    case kSuspended:
        state_ = kResuming;
        DisplayText("Resuming calculations...");
        if (driver_)
            driver_->RequestState(TMonteCarloAlgorithm::kResumeRequested);
        break;
    default:
        DisplayText("Can not resume. Calculations are not suspended.");
        break;
    }
}

void TTarvoApplication::Stop() {
    switch (state_) {
    case kSuspending:
        DisplayText("Processing the Suspend command...");
        break;
    case kResuming:
        DisplayText("Processing the Resume command...");
        break;
    case kStopping:
        DisplayText("Already processing the Stop command...");
        break;
    case kStarting:
    case kRunning:
    case kSuspended:
        if (IsAttended() && !AskYesNo("This will stop calculations completely. Do you want to stop?"))
            break;
        state_ = kStopping;
        DisplayText("Stopping calculations...");
        if (driver_)
            driver_->RequestState(TMonteCarloAlgorithm::kStopRequested);
        break;
    default:
        DisplayText("Can not stop. Calculations are not started.");
        break;
    }
}

bool TTarvoApplication::Quit() {
    if (IsAttended() && !AskYesNo("Do you really want to quit the application?")) {
        g_interruptFlag.store(0);
        return false;
    }
    QuitUnattended();
    return true;
}

void TTarvoApplication::QuitUnattended() {
    if (driver_)
        driver_->RequestState(TMonteCarloAlgorithm::kStopRequested);
    state_ = kTerminating;
    ::Stop(*this);
}

void TTarvoApplication::OnAlgorithmStateChanged(std::int32_t driverState) {
    switch (driverState) {
    case TMonteCarloAlgorithm::kRunning:
        state_ = kRunning;
        DisplayText("Calculations running.");
        break;
    case TMonteCarloAlgorithm::kSuspended:
        state_ = kSuspended;
        DisplayText("Calculations suspended.");
        break;
    case TMonteCarloAlgorithm::kStopped:
        state_ = kStopped;
        DisplayText("Calculations stopped.");
        break;
    case TMonteCarloAlgorithm::kFinished:
        state_ = kFinished;
        DisplayText("Calculations finished.");
        break;
    case TMonteCarloAlgorithm::kNothingToDo:
        ::Stop(*this);
        break;
    default:
        break;
    }
}
