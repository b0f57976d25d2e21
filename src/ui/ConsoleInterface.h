#pragma once

#include "ui/StandardInput.h"
#include "ui/UserInterface.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace ui {

// Reads commands from standard input without blocking the application's loop
// and prints the application's messages on the standard streams.
class TConsoleInterface : public TUserInterface {
public:
    enum InputState { kIdle = 1, kReading = 2, kParsing = 3, kTakingArguments = 4, kCommandReady = 5 };

    TConsoleInterface();
    // For tests: commands from `inputFd`, output to the given streams.
    TConsoleInterface(int inputFd, std::ostream& out, std::ostream& err);

    void DisplayText(const std::string& text, bool newline, bool isError) override;
    int AskQuestion(int type, const std::string& text) override;
    void Start() override;
    void Connect(TActiveObject* application) override;
    std::string GetString(const std::string& prompt, const std::string& defaultValue) override;
    void FlushInput() override;
    bool IsInputClosed() const override { return input_.IsClosed(); }
    std::istream& CommandInput() override { return commandStream_; }

    void Idle() override;

private:
    // Reads up to a line feed; false when the input ended before one arrived.
    bool ReadLine(std::string& line);
    void ParseLine(const std::string& line);
    void ExecuteCommand();
    void SendToApplication(TMessage& message);
    void ShowApplicationInfo();
    void CopyThroughStream(bool compress);

    TStandardInput input_;
    TStandardInputBuffer commandBuffer_{input_};
    std::istream commandStream_{&commandBuffer_};
    std::ostream& out_;
    std::ostream& err_;
    std::string line_;
    std::string command_;
    std::vector<std::string> arguments_;
    InputState state_ = kIdle;
};

} // namespace ui
