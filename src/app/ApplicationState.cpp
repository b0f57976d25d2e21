#include "app/MonteCarloRun.h"
#include "app/SystemUtils.h"
#include "app/TarvoApplication.h"
#include "datafiles/StateFile.h"
#include "inifiles/IniValues.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>

// Saving and restoring the application's state: the configuration, the scene's
// detectors and the run, in one state file.

bool TTarvoApplication::FindSavedState(const inifiles::TIniFileStructure& tree, const std::string& name,
                                       std::string& stateName) const {
    std::string resultDir = WithoutExtension(name);
    if (const inifiles::TIniFileSection* task = tree.TryFindSection("ApplicationTask"))
        inifiles::ReadOptional(*task, "ResultDir", resultDir);
    stateName = inifiles::JoinPath(resultDir, std::filesystem::path(name).filename().string() + ".state");
    // Anything but "no such file" may hide a state: better to try it and say why it fails.
    std::error_code error;
    const bool exists = std::filesystem::exists(stateName, error);
    return exists || (error && error != std::errc::no_such_file_or_directory);
}

std::unique_ptr<TMonteCarloRun> TTarvoApplication::NewRun() {
    auto run = std::make_unique<TMonteCarloRun>(*this, *scene_, parameters_, ResultPrefix(), nice_);
    run->SetStateWriter([this] { WriteRestoreState(StateFileName()); });
    if (cluster_ != nullptr) {
        std::ostringstream configuration;
        InternalWrite(configuration);
        run->SetCluster(cluster_, configuration.str());
    }
    return run;
}

void TTarvoApplication::InternalWrite(std::ostream& stream) {
    // Absolute, so that the saved run can be restored from any directory.
    inifiles::TIniFileStructure tree(configuration_);
    const std::filesystem::path base = configuration_.GetBasePath();
    tree.SetBasePath(std::filesystem::absolute(base.empty() ? "." : base).lexically_normal().string());
    if (!tree.Write(stream))
        throw std::runtime_error("Error writing the configuration");
}

void TTarvoApplication::InternalRead(std::istream& stream, std::uint64_t payloadSize) {
    std::string text(payloadSize, '\0');
    stream.read(text.data(), std::streamsize(payloadSize));
    if (!stream)
        throw std::runtime_error("Read error");
    // The directory above ResultDir stands in for a base path the configuration lacks.
    const std::string fallback = inifiles::DirectoryPart(restoreDir_);
    inifiles::TIniFileStructure tree;
    tree.SetBasePath(fallback);
    std::istringstream in(text);
    tree.ReadFrom(in, "the saved configuration");
    if (tree.GetBasePath().empty())
        tree.SetBasePath(fallback);
    tree.SetRestored(true);
    DisplayText("Reading parameters...");
    TSimulationParameters parameters;
    parameters.ReadParameters(tree, restoreDir_,
                              [this](const std::string& line, bool isError) { DisplayText(line, isError); });
    parameters.ResultDir = restoreDir_;
    configuration_ = std::move(tree);
    parameters_ = parameters;
    initialized_ = true;
    state_ = kInitialized;
    DisplayText("Reading parameters done.");
    LoadScene(configuration_, "the saved configuration");
}

void TTarvoApplication::LoadAsClusterWorker(const std::string& configuration, const std::string& resultDir) {
    writesFiles_ = false;
    restoreDir_ = resultDir;
    std::istringstream stream(configuration);
    InternalRead(stream, configuration.size());
}

void TTarvoApplication::ReadState(const std::string& fileName) {
    datafiles::TStateFileReader reader(fileName);
    // ResultDir is where the state is; "run.ini.state" and "run.ini.state.bak" both
    // belong to the results of "run.ini".
    std::string base = std::filesystem::path(fileName).filename().string();
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".bak") == 0)
        base.erase(base.size() - 4);
    restoreDir_ = inifiles::DirectoryPart(fileName);
    resultBaseName_ = WithoutExtension(base);
    ReadObject(reader.Stream(), *this);
    if (!scene_)
        throw std::runtime_error("Scene was not created");
    ReadObject(reader.Stream(), *scene_);
    std::unique_ptr<TMonteCarloRun> run = NewRun();
    if (!run)
        throw std::runtime_error("Algorithm was not created");
    ReadObject(reader.Stream(), *run);
    reader.ExpectEnd();
    driver_ = std::move(run);
}

bool TTarvoApplication::RestoreState(const std::string& fileName) {
    if (HasRun()) {
        DisplayText("Can not restore a state while calculations are running.", true);
        return false;
    }
    // What is loaded now comes back unless the whole state could be read.
    inifiles::TIniFileStructure configuration = configuration_;
    TSimulationParameters parameters = parameters_;
    auto materials = std::move(materials_);
    auto driver = std::move(driver_);
    auto geometryManager = std::move(geometryManager_);
    auto scene = std::move(scene_);
    auto voxelSet = std::move(voxelSet_);
    const std::string voxelDumpFile = voxelDumpFile_, resultBaseName = resultBaseName_;
    const std::int32_t state = state_;
    const bool initialized = initialized_, sceneInitialized = sceneInitialized_;
    try {
        ReadState(fileName);
    } catch (const std::exception& error) {
        DeleteScene();
        driver_.reset();
        configuration_ = std::move(configuration);
        parameters_ = parameters;
        materials_ = std::move(materials);
        driver_ = std::move(driver);
        geometryManager_ = std::move(geometryManager);
        scene_ = std::move(scene);
        voxelSet_ = std::move(voxelSet);
        voxelDumpFile_ = voxelDumpFile;
        resultBaseName_ = resultBaseName;
        state_ = state;
        initialized_ = initialized;
        sceneInitialized_ = sceneInitialized;
        DisplayText(std::string(error.what()) + " while reading " + fileName, true);
        return false;
    }
    CreateResultDirectory();
    DisplayText(Summary());
    DisplayText("Restored state from " + fileName);
    state_ = kStarting;
    static_cast<TMonteCarloRun&>(*driver_).Resume();
    return true;
}

void TTarvoApplication::WriteRestoreState(const std::string& fileName) {
    DisplayText("Writing restore state...");
    try {
        if (!scene_ || !driver_)
            throw std::runtime_error("Nothing to save");
        datafiles::WriteStateFile(fileName, [this](std::ostream& out) {
            WriteObject(out, *this);
            WriteObject(out, *scene_);
            WriteObject(out, *driver_);
        });
        DisplayText("Finished writing restore state.");
    } catch (const std::exception& error) {
        DisplayText(error.what(), true);
        DisplayText("Error writing application state to " + fileName, true);
    }
}

void TTarvoApplication::RemoveRestoreState() {
    if (!datafiles::RemoveStateFiles(StateFileName()))
        DisplayText("Unable to remove restore state.", true);
}
