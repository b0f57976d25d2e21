#include "ui/ConsoleInterface.h"

#include "datafiles/HostInfo.h"
#include "datafiles/Text.h"
#include "datafiles/XRTCStream.h"
#include "ui/Interrupt.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <omp.h>

namespace ui {

namespace {

const char* const kHelpText = "Possible commands:\n"
                              "Start\n"
                              "Suspend\n"
                              "Resume\n"
                              "SaveState\n"
                              "Stop\n"
                              "Quit\n"
                              "Status\n"
                              "Init <tarvo.ini>\n"
                              "LoadScene <scene.ini>\n"
                              "Compress <srcfile> <dstfile>\n"
                              "Decompress <srcfile> <dstfile>\n";

int AnswerOf(int c) {
    switch (std::tolower(c)) {
    case 'y':
        return TDialogMessage::kYes;
    case 'n':
        return TDialogMessage::kNo;
    case 'c':
        return TDialogMessage::kCancel;
    default:
        return 0;
    }
}

bool Accepts(int type, int answer) {
    if (type == TDialogMessage::kYesNo)
        return answer == TDialogMessage::kYes || answer == TDialogMessage::kNo;
    return answer >= TDialogMessage::kYes && answer <= TDialogMessage::kCancel;
}

bool FileHasContent(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    return file && file.tellg() > 0;
}

} // namespace

TConsoleInterface::TConsoleInterface() : TConsoleInterface(0, std::cout, std::cerr) {}

TConsoleInterface::TConsoleInterface(int inputFd, std::ostream& out, std::ostream& err)
    : input_(inputFd), out_(out), err_(err) {}

void TConsoleInterface::DisplayText(const std::string& text, bool newline, bool isError) {
    std::ostream& stream = isError ? err_ : out_;
    stream << text;
    if (newline)
        stream << '\n';
    stream.flush();
}

void TConsoleInterface::Start() {
    DisplayText(GetStartLine(), true, false);
    DisplayText("Simple Console Interface", true, false);
    DisplayText("Trace Mode ON!", true, false);
}

void TConsoleInterface::Connect(TActiveObject* application) {
    TUserInterface::Connect(application);
    if (IsConnected()) {
        DisplayText("Connected to application. Application Information:", true, false);
        ShowApplicationInfo();
    }
}

int TConsoleInterface::AskQuestion(int type, const std::string& text) {
    state_ = kReading;
    const char* choices = type == TDialogMessage::kYesNo ? " (Yes/No) [Y/N] " : " (Yes/No/Cancel) [Y/N/C] ";
    int answer = 0;
    while (answer == 0) {
        DisplayText(text + choices, false, false);
        const int c = input_.ReadChar();
        if (c < 0) {
            // Nobody can answer any more: take the answer that changes nothing.
            answer = type == TDialogMessage::kYesNo ? TDialogMessage::kNo : TDialogMessage::kCancel;
            DisplayText("", true, false);
            break;
        }
        if (c != '\n')
            FlushInput();
        if (Accepts(type, AnswerOf(c)))
            answer = AnswerOf(c);
    }
    line_.clear();
    state_ = kIdle;
    return answer;
}

std::string TConsoleInterface::GetString(const std::string& prompt, const std::string& defaultValue) {
    std::string text = prompt;
    if (!defaultValue.empty())
        text += " [" + defaultValue + "]";
    DisplayText(text + ": ", false, false);
    std::string answer;
    ReadLine(answer);
    answer = TrimWhite(answer);
    return answer.empty() ? defaultValue : answer;
}

void TConsoleInterface::FlushInput() {
    if (!input_.HasPending())
        return;
    for (int c = input_.ReadChar(); c >= 0 && c != '\n'; c = input_.ReadChar()) {
    }
}

bool TConsoleInterface::ReadLine(std::string& line) {
    for (;;) {
        const int c = input_.ReadChar();
        if (c < 0)
            return false;
        if (c == '\n')
            return true;
        line.push_back(static_cast<char>(c));
    }
}

void TConsoleInterface::Idle() {
    if (omp_get_thread_num() != 0)
        return;
    if (input_.HasPending() && !input_.IsClosed()) {
        state_ = kReading;
        // A last line without a line feed is still a command once the input has ended.
        if (ReadLine(line_) || !line_.empty()) {
            ParseLine(line_);
            ExecuteCommand();
        } else {
            state_ = kIdle;
        }
    }
    if (g_interruptFlag.load() == 1) {
        g_interruptFlag.store(2);
        command_ = "Quit";
        state_ = kCommandReady;
        ExecuteCommand();
    }
}

void TConsoleInterface::ParseLine(const std::string& line) {
    state_ = kParsing;
    command_.clear();
    arguments_.clear();
    std::string piece;
    auto flush = [&] {
        if (piece.empty())
            return;
        if (command_.empty()) {
            command_ = piece;
            state_ = kTakingArguments;
        } else {
            arguments_.push_back(piece);
        }
        piece.clear();
    };
    for (char c : line) {
        if (c == ' ' || c == '\r' || c == '\t')
            flush();
        else
            piece.push_back(c);
    }
    flush();
    state_ = command_.empty() ? kIdle : kCommandReady;
}

void TConsoleInterface::SendToApplication(TMessage& message) {
    if (!IsConnected()) {
        DisplayText("Can not send message to Application: Application is not connected", true, true);
        return;
    }
    Send(*Application(), message);
}

void TConsoleInterface::ShowApplicationInfo() {
    if (!IsConnected()) {
        DisplayText("Not connected to application.", true, false);
        return;
    }
    TGetApplicationInfoMessage info;
    SendToApplication(info);
    DisplayText(info.answered ? info.answer : "No information available.", true, false);
}

void TConsoleInterface::ExecuteCommand() {
    if (state_ != kCommandReady)
        return;
    const std::string word = ToLower(command_);
    auto sendCommand = [this](std::uint32_t id) {
        TMessage message(id);
        SendToApplication(message);
    };
    if (word == "start") {
        sendCommand(kMsgStart);
    } else if (word == "stop") {
        sendCommand(kMsgStop);
    } else if (word == "suspend") {
        sendCommand(kMsgSuspend);
    } else if (word == "resume" || word == "continue") {
        sendCommand(kMsgResume);
    } else if (word == "quit") {
        sendCommand(kMsgQuit);
    } else if (word == "status") {
        sendCommand(kMsgStatus);
    } else if (word == "savestate") {
        sendCommand(kMsgSaveState);
    } else if (word == "loadstate") {
        DisplayText("Not implemented.", true, true);
    } else if (word == "applicationinfo") {
        ShowApplicationInfo();
    } else if (word == "init") {
        std::string file = arguments_.empty() ? std::string("tarvo.ini") : arguments_[0];
        if (arguments_.empty())
            DisplayText("File name not specified. Use tarvo.ini by default.", true, true);
        TFileNameMessage message(kMsgInit, file);
        SendToApplication(message);
    } else if (word == "loadscene") {
        std::string file = arguments_.empty() ? std::string("scene.ini") : arguments_[0];
        if (arguments_.empty())
            DisplayText("File Name expected. Use scene.ini by default.", true, true);
        TFileNameMessage message(kMsgLoadScene, file);
        SendToApplication(message);
    } else if (word == "compress" || word == "decompress") {
        CopyThroughStream(word == "compress");
    } else if (word == "help") {
        DisplayText(kHelpText, false, false);
    } else {
        DisplayText("Unknown command: '" + command_ + "'", true, true);
    }
    state_ = kIdle;
    line_.clear();
    command_.clear();
    arguments_.clear();
}

void TConsoleInterface::CopyThroughStream(bool compress) {
    if (arguments_.size() < 2) {
        DisplayText("Usage: " + command_ + " <source file> <target file>", true, true);
        return;
    }
    const std::string& source = arguments_[0];
    const std::string& target = arguments_[1];
    std::ifstream in(source, std::ios::binary);
    std::error_code ignored;
    if (!in || std::filesystem::is_directory(source, ignored)) {
        DisplayText("Couldn't open " + source + " for reading", true, true);
        return;
    }
    if (FileHasContent(target) && AskQuestion(TDialogMessage::kYesNo, "Overwrite " + target + "?") != TDialogMessage::kYes)
        return;
    try {
        datafiles::CopyThroughStream(source, target, compress);
    } catch (const std::exception& error) {
        DisplayText(error.what(), true, true);
    }
}

} // namespace ui
