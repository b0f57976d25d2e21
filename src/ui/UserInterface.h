#pragma once

#include "ui/ActiveObject.h"

#include <iostream>
#include <string>

namespace ui {

// What the application needs of whatever talks to the user: a console, or a
// controlling program behind a pipe.
class TBasicUserInterface {
public:
    virtual ~TBasicUserInterface() = default;
    virtual void DisplayText(const std::string& text, bool newline, bool isError) = 0;
    virtual int AskQuestion(int type, const std::string& text) = 0;
    virtual void Start() = 0;
    virtual void Connect(TActiveObject* application) = 0;
    virtual bool IsConnected() const = 0;
    virtual std::string GetString(const std::string& prompt, const std::string& defaultValue) = 0;
    virtual void FlushInput() = 0;
    // True once no further input can ever arrive: nobody is left to answer questions.
    virtual bool IsInputClosed() const { return false; }
    // Where a configuration named "-" is read from: the interface's own input.
    virtual std::istream& CommandInput() { return std::cin; }
};

class TUserInterface : public TBasicUserInterface, public TActiveObject {
public:
    void HandleMessage(TMessage& message) override;
    void Connect(TActiveObject* application) override { application_ = application; }
    bool IsConnected() const override { return application_ != nullptr; }

protected:
    TActiveObject* Application() const { return application_; }

private:
    TActiveObject* application_ = nullptr;
};

} // namespace ui
