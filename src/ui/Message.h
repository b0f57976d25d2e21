#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TActiveObject;

// Identifiers of the messages exchanged between the console, the application
// and the run driver; the numbers are part of the controlling-program protocol.
enum MessageId : std::uint32_t {
    kMsgReady = 0,
    kMsgQuitLoop = 1,
    kMsgQuit = 101,
    kMsgGetApplicationInfo = 102,
    kMsgStart = 103,
    kMsgSuspend = 104,
    kMsgResume = 105,
    kMsgStop = 106,
    kMsgStatus = 109,
    kMsgSaveState = 110,
    kMsgDisplayText = 111,
    kMsgDialog = 114,
    kMsgInit = 115,
    kMsgLoadScene = 116,
    kMsgAlgorithmStateChanged = 201,
    kMsgCalculationsFinished = 202,
    kMsgAlgorithmProgress = 203,
};

class TMessage {
public:
    explicit TMessage(std::uint32_t id, bool synchronous = false);
    virtual ~TMessage() = default;
    virtual std::unique_ptr<TMessage> Clone() const;
    virtual bool IsSame(const TMessage& other) const;
    virtual bool IsSynchronous() const;

    std::uint32_t id;
    std::uint8_t synchronous;
    std::uint8_t held = 0;
    TActiveObject* sender = nullptr;
    std::uint32_t repeatCount = 1;

protected:
    TMessage(const TMessage&) = default;
};

namespace ui {

class TGetApplicationInfoMessage : public TMessage {
public:
    TGetApplicationInfoMessage();
    std::unique_ptr<TMessage> Clone() const override;

    std::string answer;
    bool answered = false;
};

class TDisplayTextMessage : public TMessage {
public:
    TDisplayTextMessage(std::string text, bool isError);
    std::unique_ptr<TMessage> Clone() const override;
    bool IsSame(const TMessage& other) const override;
    // Worker threads must not print while the master may be printing: their texts are queued.
    bool IsSynchronous() const override;

    std::string text;
    std::uint8_t isError;
};

class TDialogMessage : public TMessage {
public:
    enum Type { kYesNo = 0, kYesNoCancel = 1 };
    enum Answer { kYes = 1, kNo = 2, kCancel = 3 };

    TDialogMessage(std::string question, int type);
    std::unique_ptr<TMessage> Clone() const override;

    std::string question;
    int type;
    std::int32_t answer = 0;
};

class TFileNameMessage : public TMessage {
public:
    TFileNameMessage(std::uint32_t id, std::string fileName);
    std::unique_ptr<TMessage> Clone() const override;

    std::string fileName;
};

} // namespace ui
