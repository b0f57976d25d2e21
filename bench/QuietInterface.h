#pragma once

// The user interface of benchmarks that load a configuration: only errors show.

#include <cstdio>
#include <string>

#include "ui/Message.h"
#include "ui/UserInterface.h"

namespace bench {

class QuietInterface : public ui::TUserInterface {
public:
    void DisplayText(const std::string& text, bool, bool isError) override {
        if (isError)
            std::fprintf(stderr, "%s\n", text.c_str());
    }
    int AskQuestion(int, const std::string&) override { return ui::TDialogMessage::kNo; }
    void Start() override {}
    std::string GetString(const std::string&, const std::string& d) override { return d; }
    void FlushInput() override {}
};

} // namespace bench
