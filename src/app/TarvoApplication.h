#pragma once

#include "app/MonteCarloAlgorithm.h"
#include "datafiles/ObjectIO.h"
#include "app/SimulationParameters.h"
#include "geometry/Scene.h"
#include "geometry/VoxelSet.h"
#include "inifiles/IniFile.h"
#include "materials/MaterialsList.h"
#include "ui/ActiveObject.h"
#include "ui/UserInterface.h"

#include <cstdint>
#include <memory>
#include <string>

class TClusterMaster;
class TMonteCarloRun;

// The one application object: it owns the configuration and everything loaded
// from it, and runs the user's commands as a state machine. It talks to the
// user only through messages to the user interface.
class TTarvoApplication : public TIO_Object, public TActiveObject {
public:
    enum State : std::int32_t {
        kConstructed = 1,
        kInitialized = 2,
        kTerminating = 3,
        kStarting = 4,
        kRunning = 5,
        kSuspending = 6,
        kResuming = 7,
        kSuspended = 8,
        kStopping = 9,
        kFinished = 10,
        kStopped = 11,
    };

    explicit TTarvoApplication(ui::TUserInterface& userInterface);
    ~TTarvoApplication() override;

    void HandleMessage(TMessage& message) override;
    void Idle() override;

    // With tryRestore, a state saved for this configuration (<ResultDir>/<name>.state)
    // is restored instead when it exists.
    bool Initialize(const std::string& fileName, bool tryRestore);
    // Rebuilds the run saved in the file and resumes it. A state that can not be
    // restored is reported and leaves the application as it was.
    bool RestoreState(const std::string& fileName);
    // Writes the state file atomically (the previous one stays as ".bak"); a failure is
    // reported and the run goes on.
    void WriteRestoreState(const std::string& fileName);
    // Removes the state file and its backup.
    void RemoveRestoreState();
    // The configuration as INI text, its base path made absolute.
    void InternalWrite(std::ostream& stream) override;
    // Parses the configuration and loads its parameters and scene.
    void InternalRead(std::istream& stream, std::uint64_t payloadSize) override;
    std::string IOClassName() const override { return "TTarvoApplication"; }
    // Loads the scene, its detector definitions and materials, and builds the hierarchy;
    // `sourceName` is the file `tree` came from, named in errors of its objects.
    void LoadScene(const inifiles::TIniFileStructure& tree, const std::string& sourceName = std::string());

    // Cluster runs: rank 0's runs serve the other processes through `cluster`.
    void SetCluster(TClusterMaster* cluster) { cluster_ = cluster; }
    // A worker process loads the configuration rank 0 runs (as a state holds it),
    // writing nothing.
    void LoadAsClusterWorker(const std::string& configuration, const std::string& resultDir);
    IScene* SceneForRun() { return scene_.get(); }

    bool Start();
    void Suspend();
    void Resume();
    void Stop();
    bool Quit();
    void OnAlgorithmStateChanged(std::int32_t driverState);

    std::int32_t GetState() const { return state_; }
    const inifiles::TIniFileStructure& Configuration() const { return configuration_; }
    const TSimulationParameters& Parameters() const { return parameters_; }
    const IScene* Scene() const { return scene_.get(); }
    // ResultDir joined with the configuration's file name: the stem of every result file.
    std::string ResultPrefix() const;
    std::string StateFileName() const { return ResultPrefix() + ".state"; }
    bool IsInitialized() const { return initialized_; }
    bool IsSceneInitialized() const { return sceneInitialized_; }
    void SetInteractive(bool interactive) { interactive_ = interactive; }
    bool IsInteractive() const { return interactive_; }
    void SetNice(int nice) { nice_ = nice; }
    int GetNice() const { return nice_; }

    // An unattended ray casting failed: the program is to end with an error.
    bool CalculationFailed() const { return calculationFailed_; }

    void DisplayText(const std::string& text, bool isError = false);
    bool AskYesNo(const std::string& question);

private:
    // Someone can still answer questions: interactive, and the input has not ended.
    bool IsAttended() const;
    bool IsCalculating() const;
    // A run exists (also a suspended one) whose scene must not be replaced under it.
    bool HasRun() const;
    void QuitUnattended();
    // Replaces the run driver by a new Monte Carlo run and runs it.
    void StartMonteCarlo();
    std::unique_ptr<TMonteCarloRun> NewRun();
    // Whether a state saved for the configuration `tree` read from `name` exists; sets its name.
    bool FindSavedState(const inifiles::TIniFileStructure& tree, const std::string& name,
                        std::string& stateName) const;
    void ReadState(const std::string& fileName);
    // The question after a run: a new total continues it, "stop" or "quit" end it.
    void AskNewTotal();
    void ReadConfiguration(const std::string& fileName, inifiles::TIniFileStructure& tree) const;
    void CreateResultDirectory();
    std::string Summary() const;
    void DeleteScene();
    void SetEnergyLimits();
    void LoadDetectorDefinitions(const inifiles::TIniFileStructure& tree);
    void LoadMaterials(const inifiles::TIniFileStructure& tree);
    // With RayCasting, lists the "air" (any case) that the materials file defines.
    void AddAirForRayCasting(const inifiles::TIniFileStructure& file);
    // Runs the ray casting on the loaded scene in place of a Monte Carlo run.
    bool StartRayCasting();
    // Voxelises the loaded parts into the voxel set and writes its dump file.
    void FillVoxelSet();
    void WriteResultsHeader(const std::string& summary) const;

    inifiles::TIniFileStructure configuration_;
    ui::TUserInterface& ui_;
    TSimulationParameters parameters_;
    std::unique_ptr<materials::TMaterialsList> materials_;
    std::unique_ptr<TMonteCarloAlgorithm> driver_;
    std::shared_ptr<geometry::IntersectionManager> geometryManager_;
    std::unique_ptr<IScene> scene_;
    std::unique_ptr<geometry::TVoxelSet> voxelSet_;
    std::string voxelDumpFile_;
    int nice_ = 0;
    std::int32_t state_ = kConstructed;
    std::string resultBaseName_;
    bool initialized_ = false;
    bool sceneInitialized_ = false;
    bool interactive_ = true;
    bool calculationFailed_ = false;
    // ResultDir of the state being restored.
    std::string restoreDir_;
    TClusterMaster* cluster_ = nullptr;
    // False on a cluster worker, which leaves every file to rank 0.
    bool writesFiles_ = true;
};
