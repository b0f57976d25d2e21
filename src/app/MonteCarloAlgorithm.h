#pragma once

#include "datafiles/ObjectIO.h"
#include "ui/ActiveObject.h"

#include <cstdint>
#include <memory>
#include <string>

// The run driver as the application sees it: it runs a calculation on all
// threads and reports back only through the messages below.
class TMonteCarloAlgorithm : public TIO_Object, public TActiveObject {
public:
    enum State : std::int32_t {
        kPreparing = 2,
        kTracersStarting = 4,
        kRunning = 5,
        kSuspendRequested = 6,
        kSuspended = 7,
        kResumeRequested = 8,
        kStopRequested = 9,
        kStopped = 10,
        kAllBatchesHandedOut = 11,
        kFinished = 12,
        kNothingToDo = 14,
        kDone = 15,
    };

    virtual std::int32_t GetState() const = 0;
    virtual void RequestState(std::int32_t state) = 0;
    virtual void PrintStatus() = 0;
    virtual void SaveStateNow() = 0;
    virtual void ContinueTo(std::uint64_t newTotal) = 0;
};

class TAlgorithmStateChangedMessage : public TMessage {
public:
    TAlgorithmStateChangedMessage(std::int32_t newState_, std::int32_t previousState_)
        : TMessage(kMsgAlgorithmStateChanged), newState(newState_), previousState(previousState_) {}
    std::unique_ptr<TMessage> Clone() const override {
        return std::make_unique<TAlgorithmStateChangedMessage>(*this);
    }

    std::int32_t newState;
    std::int32_t previousState;
};

class TAlgorithmCalculationsFinishedMessage : public TMessage {
public:
    explicit TAlgorithmCalculationsFinishedMessage(double seconds_)
        : TMessage(kMsgCalculationsFinished), seconds(seconds_) {}
    std::unique_ptr<TMessage> Clone() const override {
        return std::make_unique<TAlgorithmCalculationsFinishedMessage>(*this);
    }

    double seconds;
};

// The driver formats its progress line itself; the application only prints it.
class TAlgorithmProgressMessage : public TMessage {
public:
    explicit TAlgorithmProgressMessage(std::string line_) : TMessage(kMsgAlgorithmProgress), line(std::move(line_)) {}
    std::unique_ptr<TMessage> Clone() const override { return std::make_unique<TAlgorithmProgressMessage>(*this); }

    std::string line;
};
