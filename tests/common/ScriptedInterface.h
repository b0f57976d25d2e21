#pragma once

#include "ui/Message.h"
#include "ui/UserInterface.h"

#include <deque>
#include <string>
#include <vector>

namespace testutil {

// A user interface that records what the application shows and answers
// questions from a script.
class ScriptedInterface : public ui::TUserInterface {
public:
    void DisplayText(const std::string& text, bool, bool isError) override {
        lines.push_back((isError ? "E:" : "") + text);
    }
    int AskQuestion(int, const std::string& text) override {
        questions.push_back(text);
        if (answers.empty())
            return ui::TDialogMessage::kNo;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Start() override {}
    std::string GetString(const std::string&, const std::string& d) override { return d; }
    void FlushInput() override {}
    bool IsInputClosed() const override { return inputClosed; }

    std::vector<std::string> lines;
    std::vector<std::string> questions;
    std::deque<int> answers;
    bool inputClosed = false;
};

} // namespace testutil
