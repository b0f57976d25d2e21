#pragma once

#include "ui/Message.h"

#include <deque>
#include <memory>

#include <omp.h>

// An object with its own message queue; other threads talk to it only by
// posting messages, which its owner's thread handles in Run or ProcessMessages.
class TActiveObject {
public:
    TActiveObject();
    virtual ~TActiveObject();
    TActiveObject(const TActiveObject&) = delete;
    TActiveObject& operator=(const TActiveObject&) = delete;

    virtual void HandleMessage(TMessage& message);
    virtual void Idle() {}

    void Post(const TMessage& message);
    void Run();
    void ProcessMessages();
    bool IsRunning() const { return running_; }
    std::size_t QueuedCount();

protected:
    void SetRunning(bool running) { running_ = running; }

private:
    void Drain();

    bool running_ = false;
    std::deque<std::unique_ptr<TMessage>> queue_;
    omp_lock_t lock_;
};

// Synchronous messages are handled at once in the caller's thread (so answers
// can be read from the message); all others are queued.
void Send(TActiveObject& receiver, TMessage& message);
void Post(TActiveObject& receiver, const TMessage& message);
// Asks the object's run loop to end.
void Stop(TActiveObject& object);
