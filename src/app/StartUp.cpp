#include "app/StartUp.h"

#include "app/Cluster.h"
#include "app/ClusterMaster.h"
#include "app/ClusterWorker.h"
#include "app/LogFile.h"
#include "app/SystemUtils.h"
#include "app/TarvoApplication.h"
#include "datafiles/StateFile.h"
#include "ui/ConsoleInterface.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <omp.h>
#include <unistd.h>

namespace {

class TStartUp {
public:
    TStartUp(ui::TConsoleInterface& console, TTarvoApplication& application, std::unique_ptr<TLogFile>& logFile)
        : console_(console), application_(application), logFile_(logFile) {}

    void HandleArguments(const std::vector<std::string>& arguments);
    bool ConfigurationFailed() const { return configurationFailed_ || application_.CalculationFailed(); }

private:
    void Positional(const std::string& fileName, bool tryRestore = false);
    void OpenLogFile(const std::string& path);
    void SetThreads(const std::string& value);
    void SetNice(const std::string& value);
    void Restore(const std::string& path);

    ui::TConsoleInterface& console_;
    TTarvoApplication& application_;
    std::unique_ptr<TLogFile>& logFile_;
    bool configurationGiven_ = false;
    bool configurationFailed_ = false;
};

bool IsOptionWithValue(const std::string& argument) {
    return argument == "--interactive" || argument == "--logfile" || argument == "--nice" ||
           argument == "--restore" || argument == "--threads" || argument == "--workingdir";
}

void TStartUp::HandleArguments(const std::vector<std::string>& arguments) {
    bool positionalOnly = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (positionalOnly) {
            Positional(argument);
        } else if (argument.empty()) {
            std::cerr << "Empty command line argument?!" << std::endl;
        } else if (argument == "--") {
            positionalOnly = true;
        } else if (IsOptionWithValue(argument) && i + 1 < arguments.size()) {
            const std::string& value = arguments[++i];
            if (argument == "--interactive")
                application_.SetInteractive(ParseInteractiveValue(value));
            else if (argument == "--logfile")
                OpenLogFile(value);
            else if (argument == "--nice")
                SetNice(value);
            else if (argument == "--restore")
                Restore(value);
            else if (argument == "--threads")
                SetThreads(value);
            else if (chdir(value.c_str()) != 0)
                throw std::runtime_error("Couldn't change working directory to " + value);
        } else if (argument[0] != '-') {
            Positional(argument);
        } else {
            throw std::runtime_error("Unknown command line argument: " + argument);
        }
    }
    if (!configurationGiven_)
        application_.Run();
}

void TStartUp::Positional(const std::string& fileName, bool tryRestore) {
    configurationGiven_ = true;
    bool loaded = false;
    try {
        loaded = application_.Initialize(fileName, tryRestore);
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
    }
    if (!loaded) {
        configurationFailed_ = true;
        return;
    }
    application_.Run();
}

void TStartUp::OpenLogFile(const std::string& path) {
    logFile_.reset();
    if (const int error = CreateParentDirectory(path))
        std::cout << "Couldn't create parent directory of " << path << " (" << error << ")" << std::endl;
    logFile_ = std::make_unique<TLogFile>(path);
}

void TStartUp::SetThreads(const std::string& value) {
    const int threads = ParseThreadCount(value);
    if (threads > 0)
        omp_set_num_threads(threads);
    console_.DisplayText("OpenMP Threads: " + std::to_string(omp_get_max_threads()), true, false);
}

void TStartUp::SetNice(const std::string& value) {
    const int nice = ParsePriority(value);
    if (!SetPriority(nice))
        console_.DisplayText("Unable to set priority.", true, true);
    application_.SetNice(nice);
}

void TStartUp::Restore(const std::string& path) {
    configurationGiven_ = true;
    if (application_.RestoreState(path)) {
        application_.Run();
        return;
    }
    // A state that fails to restore is no configuration either.
    if (datafiles::IsStateFile(path)) {
        configurationFailed_ = true;
        return;
    }
    console_.DisplayText("Attempting to parse configuration from " + path, true, false);
    Positional(path, true);
}

} // namespace

bool ParseInteractiveValue(const std::string& value) {
    bool flag = false;
    std::istringstream number(value);
    if (number >> flag)
        return flag;
    std::istringstream word(ToLower(value));
    if (word >> std::boolalpha >> flag)
        return flag;
    throw std::runtime_error("Error parsing: " + value);
}

int ParseThreadCount(const std::string& value) {
    char* end = nullptr;
    errno = 0;
    const long threads = std::strtol(value.c_str(), &end, 10);
    if (end == value.c_str() || errno == ERANGE || threads < 0 || threads > 1000000)
        throw std::runtime_error("Invalid number of threads: " + value);
    return static_cast<int>(threads);
}

namespace {

// A cluster run's processes leave together: rank 0 tells the workers to quit (also
// when it ends by an error) before MPI is finished.
struct ClusterSession {
    std::unique_ptr<TClusterMaster> Master;
    ~ClusterSession() {
        Master.reset();
        cluster::Finish();
    }
};

} // namespace

int TarvoMain(const std::vector<std::string>& arguments) {
    ClusterSession session;
    try {
        cluster::Start();
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
        return -1;
    }
    if (cluster::Rank() > 0)
        return RunClusterWorker(arguments);
    if (cluster::Size() > 1)
        session.Master = std::make_unique<TClusterMaster>();
    InstallInterruptHandler();
    std::unique_ptr<TLogFile> logFile;
    ui::TConsoleInterface console;
    console.Start();
    bool configurationFailed = false;
    try {
        TTarvoApplication application(console);
        application.SetCluster(session.Master.get());
        std::cout << "OpenMP Threads: " << omp_get_max_threads() << std::endl;
        TStartUp startUp(console, application, logFile);
        startUp.HandleArguments(arguments);
        configurationFailed = startUp.ConfigurationFailed();
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
        logFile.reset();
        return -1;
    }
    if (g_interruptFlag.load() != 0)
        return -2;
    return configurationFailed ? -1 : 0;
}
