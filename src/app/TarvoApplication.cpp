#include "app/TarvoApplication.h"

#include "app/MonteCarloRun.h"
#include "app/ObjectTypes.h"
#include "app/RayCasting.h"
#include "app/SystemUtils.h"
#include "datafiles/ResultFile.h"
#include "datafiles/XRTCStream.h"
#include "detectors/DetectorModel.h"
#include "geometry/SceneLoader.h"
#include "geometry/Voxelizer.h"
#include "interactions/Part.h"
#include "interactions/PhysicsConstants.h"
#include "sources/SourceFactory.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

TTarvoApplication::TTarvoApplication(ui::TUserInterface& userInterface) : ui_(userInterface) {
    RegisterSceneObjectTypes();
    ui_.Connect(this);
    // Readers of compressed data stop at Ctrl+C or SIGTERM, and only a user who is there
    // may let a small file expand beyond the bound.
    datafiles::DecodeGuard guard;
    guard.Interrupted = [] { return g_interruptFlag.load() != 0; };
    guard.AllowExpansion = [this](const std::string& question) { return IsAttended() && AskYesNo(question); };
    datafiles::SetDecodeGuard(std::move(guard));
}

TTarvoApplication::~TTarvoApplication() {
    datafiles::SetDecodeGuard({});
    ui_.Connect(nullptr);
}

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

bool TTarvoApplication::HasRun() const { return IsCalculating() || state_ == kSuspended; }

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
    case kMsgLoadScene: {
        const auto& file = static_cast<ui::TFileNameMessage&>(message);
        try {
            if (!initialized_)
                throw std::runtime_error("Can not load scene. Application is not initialized.");
            if (HasRun())
                throw std::runtime_error("Can not load a scene while calculations are running.");
            LoadScene(inifiles::TIniFileStructure(file.fileName), file.fileName);
        } catch (const std::exception& error) {
            DisplayText(error.what(), true);
        }
        break;
    }
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
    if (ui_.IsInputClosed() && !IsCalculating()) {
        if (IsRunning()) {
            QuitUnattended();
            return;
        }
        // A run started before this loop (restored, or started at loading) that is
        // suspended now can never be resumed.
        if (state_ == kSuspended)
            Stop();
    }
    // The run pumps this loop between its histories: it must not sleep while tracing.
    const std::int32_t driverState = driver_ ? driver_->GetState() : 0;
    if (driverState != TMonteCarloAlgorithm::kRunning && driverState != TMonteCarloAlgorithm::kAllBatchesHandedOut &&
        driverState != TMonteCarloAlgorithm::kTracersStarting && driverState != TMonteCarloAlgorithm::kResumeRequested &&
        driverState != TMonteCarloAlgorithm::kSuspendRequested)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

namespace {

// Collects what the loaders report in pieces ("Water:", " Macro", ..., "\n") into
// whole lines for the user interface; an error is always a message of its own.
class TLineAssembler {
public:
    explicit TLineAssembler(TTarvoApplication& application) : application_(application) {}
    ~TLineAssembler() { Flush(); }
    TLineAssembler(const TLineAssembler&) = delete;
    TLineAssembler& operator=(const TLineAssembler&) = delete;

    std::function<void(const std::string&, bool)> Sink() {
        return [this](const std::string& text, bool isError) { Add(text, isError); };
    }
    // The scene and its hierarchy keep the sink they were loaded with, and their
    // objects may report through it long after loading: such a sink shares the
    // assembler instead of pointing at one that lives only while loading.
    static std::function<void(const std::string&, bool)> Shared(const std::shared_ptr<TLineAssembler>& lines) {
        return [lines](const std::string& text, bool isError) { lines->Add(text, isError); };
    }
    void Flush() {
        if (!pending_.empty())
            application_.DisplayText(pending_);
        pending_.clear();
    }

private:
    void Add(const std::string& text, bool isError) {
        if (isError) {
            const bool newline = !text.empty() && text.back() == '\n';
            application_.DisplayText(newline ? text.substr(0, text.size() - 1) : text, true);
            return;
        }
        pending_ += text;
        for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
            application_.DisplayText(pending_.substr(0, end));
            pending_.erase(0, end + 1);
        }
    }

    TTarvoApplication& application_;
    std::string pending_;
};

std::string SecondsSince(std::chrono::steady_clock::time_point start) {
    std::ostringstream text;
    text << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return text.str();
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

bool TTarvoApplication::Initialize(const std::string& fileName, bool tryRestore) {
    // Replacing the configuration deletes the scene that running tracers are using.
    if (HasRun())
        throw std::runtime_error("Can not read a configuration while calculations are running.");
    const std::string name = fileName == "-" ? std::string("tarvo") : fileName;

    // Read into a new tree and block, so a failed Init leaves the loaded configuration intact.
    inifiles::TIniFileStructure tree;
    ReadConfiguration(fileName, tree);
    std::string stateName;
    if (tryRestore && FindSavedState(tree, name, stateName)) {
        DisplayText("Attempting to restore state from " + stateName);
        return RestoreState(stateName);
    }
    DisplayText("Reading parameters...");
    TSimulationParameters parameters;
    try {
        parameters.ReadParameters(tree, WithoutExtension(name),
                                  [this](const std::string& text, bool isError) { DisplayText(text, isError); });
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string(error.what()) + " while parsing " + fileName);
    }
    DeleteScene();
    configuration_ = std::move(tree);
    parameters_ = parameters;
    resultBaseName_ = std::filesystem::path(name).filename().string();
    initialized_ = true;
    state_ = kInitialized;
    DisplayText("Reading parameters done.");

    CreateResultDirectory();
    if (parameters_.StartImmediately || fileName == "-" || !parameters_.SceneFileName.empty() ||
        configuration_.HasSection("Objects"))
        LoadScene(configuration_, fileName == "-" ? std::string("standard input") : fileName);

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

void TTarvoApplication::DeleteScene() {
    voxelSet_.reset();
    scene_.reset();
    geometryManager_.reset();
    materials_.reset();
    sceneInitialized_ = false;
}

void TTarvoApplication::LoadScene(const inifiles::TIniFileStructure& tree, const std::string& sourceName) {
    const auto start = std::chrono::steady_clock::now();
    const auto lines = std::make_shared<TLineAssembler>(*this);
    DisplayText("Loading scene...");
    TSimulationParameters& p = parameters_;
    if (p.RayCasting) {
        p.FullPhysics = false;
        p.MaterialProperties.UseTabulatedKleinNishina = false;
        p.MaterialProperties.UseTabulatedThomson = false;
        p.MaxNumberOfInteractions = 0;
    }
    DeleteScene();
    // Parts register their materials while the scene is read, so the list comes first.
    materials_ = std::make_unique<materials::TMaterialsList>(&p.MaterialProperties);
    geometry::SceneSettings settings;
    settings.SAHBins = p.SAHBins;
    settings.MaxLeafCount = p.MaxLeafCount;
    settings.MaxBVHDepth = p.MaxBVHDepth;
    settings.Single = p.Single;
    settings.SceneFileName = p.SceneFileName;
    settings.ConfigurationName = sourceName;
    settings.ElectronTransport = p.ElectronTransport;
    settings.ResultPrefix = ResultPrefix();
    settings.WritesFiles = writesFiles_;
    settings.Materials = materials_.get();
    // A scene given on its own (LoadScene command) is recorded in the configuration like a scene file.
    const bool ownTree = &tree == &configuration_;
    if (!ownTree && p.SceneFileName.empty()) {
        while (configuration_.RemoveSection("Objects")) {
        }
        if (tree.HasSection("Objects"))
            inifiles::CopySectionWithBasePath(configuration_, tree, "Objects");
    }
    geometry::LoadedScene loaded =
        geometry::LoadSceneGeometry(configuration_, settings, TLineAssembler::Shared(lines));
    geometryManager_ = std::move(loaded.Manager);
    scene_ = std::move(loaded.Scene);
    if (const inifiles::TIniFileSection* voxels = tree.TryFindSection("VoxelSet")) {
        voxelSet_ = std::make_unique<geometry::TVoxelSet>(*voxels);
        const inifiles::TIniFileVariable* dump = voxels->TryFindVariable("DumpFile");
        voxelDumpFile_ = dump ? inifiles::MakePath(*dump, dump->GetValue()) : ResultPrefix() + "_VoxelSet.vtk";
        if (!ownTree)
            inifiles::CopySectionWithBasePath(configuration_, tree, "VoxelSet");
    }

    SetEnergyLimits();
    LoadDetectorDefinitions(tree);
    LoadMaterials(tree);
    materials_->UpdateTotals(p.InteractionsModel->Selection());
    BindElectronModels(*scene_, p.MaterialProperties);

    lines->Flush();
    DisplayText("Scene loaded in " + SecondsSince(start) + "s");
    sceneInitialized_ = true;
    while (configuration_.RemoveSection("DataSources")) {
    }
    geometry::PrepareGeometryManager(*scene_, TLineAssembler::Shared(lines));
    if (voxelSet_ && writesFiles_)
        FillVoxelSet();
}

void TTarvoApplication::FillVoxelSet() {
    std::vector<TTraceableObject*> objects;
    for (std::uint32_t id = 0; id < scene_->TraceableCount(); ++id)
        objects.push_back(&scene_->GetTraceable(id));
    std::vector<geometry::VoxelPart> parts;
    for (std::size_t i = 0; i < scene_->PartCount(); ++i) {
        const TPart& part = AsPart(scene_->GetPart(i));
        parts.push_back({part.ObjectID, part.IsVoid() ? nullptr : part.GetMaterial(), part.GetMaterialName()});
    }
    TLineAssembler lines(*this);
    const geometry::IntersectionManager* manager = geometryManager_.get();
    if (const auto* single = dynamic_cast<const geometry::FacetManager<float>*>(manager))
        geometry::Voxelize(*voxelSet_, *single, objects, parts, lines.Sink());
    else if (const auto* precise = dynamic_cast<const geometry::FacetManager<double>*>(manager))
        geometry::Voxelize(*voxelSet_, *precise, objects, parts, lines.Sink());
    lines.Flush();
    voxelSet_->WriteVTK(voxelDumpFile_);
}

void TTarvoApplication::SetEnergyLimits() {
    materials::MaterialProperties& m = parameters_.MaterialProperties;
    m.MaxEnergy = std::max(m.MinEnergy, 0.0);
    for (std::size_t i = 0; i < scene_->SourceCount(); ++i) {
        const TBasicSource& source = AsSource(scene_->GetSource(i));
        m.MaxEnergy = std::max(m.MaxEnergy, source.GetEnergyRange().second);
        // A positron's annihilation photons need data up to the electron rest energy.
        if (source.GetParticleType() == ParticlePositron)
            m.MaxEnergy = std::max(m.MaxEnergy, interactions::kElectronMass);
    }
    if (!parameters_.FullPhysics) {
        m.FullPhysicsThreshold = 0;
        m.UseTabulatedTotalCompton = false;
        m.UseTabulatedTotalRayleigh = false;
        return;
    }
    if (m.FullPhysicsThreshold <= 0)
        m.FullPhysicsThreshold = m.MaxEnergy;
    const bool belowMax = m.FullPhysicsThreshold < m.MaxEnergy;
    m.UseTabulatedKleinNishina = m.UseTabulatedKleinNishina && belowMax;
    m.UseTabulatedThomson = m.UseTabulatedThomson && belowMax;
}

void TTarvoApplication::LoadDetectorDefinitions(const inifiles::TIniFileStructure& tree) {
    DisplayText("Loading detector definitions...");
    // Like the materials, the models are copied into the configuration with their base
    // path, so that a saved configuration still finds them.
    if (!parameters_.DetectorsFileName.empty()) {
        const inifiles::TIniFileStructure file(parameters_.DetectorsFileName);
        LoadDetectorModels(*scene_, file);
        if (file.HasSection("Detectors"))
            inifiles::CopySectionWithBasePath(configuration_, file, "Detectors");
    } else {
        LoadDetectorModels(*scene_, tree);
        if (&tree != &configuration_ && tree.HasSection("Detectors"))
            inifiles::CopySectionWithBasePath(configuration_, tree, "Detectors");
    }
    DisplayText("Detector definitions loaded.");
}

void TTarvoApplication::LoadMaterials(const inifiles::TIniFileStructure& tree) {
    const auto start = std::chrono::steady_clock::now();
    DisplayText("Loading materials data...");
    TLineAssembler lines(*this);
    if (!parameters_.MaterialsFileName.empty()) {
        const std::string& name = parameters_.MaterialsFileName;
        const inifiles::TIniFileStructure file(name);
        AddAirForRayCasting(file);
        try {
            materials_->Load(file, lines.Sink());
        } catch (const std::exception& error) {
            lines.Flush();
            throw std::runtime_error(std::string(error.what()) + " while loading " + name);
        }
        if (file.HasSection("Materials"))
            inifiles::CopySectionWithBasePath(configuration_, file, "Materials");
    } else {
        AddAirForRayCasting(tree);
        materials_->Load(tree, lines.Sink());
        if (&tree != &configuration_ && tree.HasSection("Materials"))
            inifiles::CopySectionWithBasePath(configuration_, tree, "Materials");
    }
    lines.Flush();
    DisplayText("Materials data loaded in " + SecondsSince(start) + "s");
}

void TTarvoApplication::AddAirForRayCasting(const inifiles::TIniFileStructure& file) {
    if (!parameters_.RayCasting || FindAir(*materials_) != nullptr)
        return;
    // The list holds only what parts name; ray casting also needs the space between them.
    const inifiles::TIniFileSection* section = file.TryFindSection("Materials");
    for (std::size_t i = 0; section != nullptr && i < section->SubsectionCount(); ++i)
        if (ToLower(section->Subsection(i).GetName()) == "air") {
            materials_->GetMaterial(section->Subsection(i).GetName());
            return;
        }
}

std::string TTarvoApplication::Summary() const {
    std::ostringstream summary;
    summary << std::boolalpha;
    if (scene_)
        scene_->PrintSummary(summary);
    if (materials_)
        materials_->PrintSummary(summary);
    parameters_.PrintSimulationSummary(summary);
    std::string text = summary.str();
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

void TTarvoApplication::WriteResultsHeader(const std::string& summary) const {
    const std::string fileName = ResultPrefix() + "_results.txt";
    datafiles::WriteReplacing(fileName, [&](const std::string& temporary) {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << GetStartLine() << '\n' << VersionBanner() << '\n' << summary << '\n';
        if (!file.flush())
            throw std::runtime_error("Can not write " + fileName);
    });
}

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
    if (parameters_.RayCasting)
        return StartRayCasting();
    try {
        StartMonteCarlo();
    } catch (...) {
        // A run that failed to start (a trace file that cannot be opened) leaves nothing
        // running: the next configuration or Start must be accepted.
        driver_.reset();
        state_ = kInitialized;
        throw;
    }
    return true;
}

void TTarvoApplication::StartMonteCarlo() {
    driver_.reset();
    auto run = NewRun();
    TMonteCarloRun& started = *run;
    driver_ = std::move(run);
    started.Start();
}

void TTarvoApplication::AskNewTotal() {
    const std::uint64_t defaultTotal = 10 * parameters_.NumberOfParticles;
    std::uint64_t total = 0;
    for (;;) {
        const std::string answer =
            ToLower(TrimWhite(ui_.GetString("New total number of particles to trace", FormatCount(defaultTotal))));
        if (answer == "quit") {
            if (Quit())
                return;
            continue;
        }
        if (answer == "stop") {
            if (IsAttended() && !AskYesNo("This will stop calculations completely. Do you want to stop?"))
                continue;
            return;
        }
        if (answer == "start" || answer == "resume") {
            total = defaultTotal;
            break;
        }
        std::istringstream number(answer);
        double value = 0;
        if (number >> value && value >= 0 && value == std::floor(value) && value < 1.8e19) {
            total = std::uint64_t(value);
            break;
        }
        DisplayText("Not a number of particles: " + answer, true);
        if (!IsAttended())
            return;
    }
    if (total == 0)
        return;
    if (total > parameters_.NumberOfParticles) {
        inifiles::TIniFileSection* task = configuration_.TryFindSection("ApplicationTask");
        if (task == nullptr)
            task = configuration_.AddSection(inifiles::TIniFileSection("ApplicationTask"));
        if (inifiles::TIniFileVariable* v = task->TryFindVariable("NumberOfParticles"))
            v->SetValue(std::to_string(total));
        else
            task->AddVariable("NumberOfParticles", std::to_string(total));
        parameters_.NumberOfParticles = total;
    }
    state_ = kStarting;
    driver_->ContinueTo(total);
}

bool TTarvoApplication::StartRayCasting() {
    bool done = false;
    try {
        RunRayCasting(*scene_, *materials_, parameters_, ResultPrefix(),
                      [this](const std::string& text, bool isError) { DisplayText(text, isError); });
        state_ = kFinished;
        DisplayText("Calculations finished.");
        done = true;
    } catch (const std::exception& error) {
        DisplayText(error.what(), true);
        // Nothing runs: Start is accepted again.
        state_ = kInitialized;
        // Nobody is there to see the message: the exit code has to tell.
        if (!IsAttended() || parameters_.StartImmediately)
            calculationFailed_ = true;
    }
    if (parameters_.StartImmediately)
        ::Stop(*this);
    return done;
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
    case TMonteCarloAlgorithm::kNothingToDo: {
        const auto* run = dynamic_cast<const TMonteCarloRun*>(driver_.get());
        const std::string error = run != nullptr ? run->GetError() : std::string();
        // Without a run to continue, after an accepted Quit, or with nobody to answer, the
        // program goes on.
        if (run == nullptr || !interactive_ || parameters_.StartImmediately || state_ == kTerminating || !IsAttended()) {
            // A finished run needs its state no more; a stopped one may still be continued.
            if (state_ == kFinished)
                RemoveRestoreState();
            ::Stop(*this);
            if (!error.empty())
                throw std::runtime_error(error);
            break;
        }
        if (!error.empty())
            DisplayText(error, true);
        AskNewTotal();
        break;
    }
    default:
        break;
    }
}
