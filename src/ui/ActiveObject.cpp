#include "ui/ActiveObject.h"

#include <limits>

namespace {

class TLockGuard {
public:
    explicit TLockGuard(omp_lock_t& lock) : lock_(lock) { omp_set_lock(&lock_); }
    ~TLockGuard() { omp_unset_lock(&lock_); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    omp_lock_t& lock_;
};

} // namespace

TActiveObject::TActiveObject() { omp_init_lock(&lock_); }

TActiveObject::~TActiveObject() { omp_destroy_lock(&lock_); }

void TActiveObject::HandleMessage(TMessage& message) {
    if (message.id == kMsgQuitLoop)
        running_ = false;
}

void TActiveObject::Post(const TMessage& message) {
    TLockGuard guard(lock_);
    if (!queue_.empty() && queue_.back()->IsSame(message)) {
        TMessage& last = *queue_.back();
        if (last.repeatCount <= std::numeric_limits<std::uint32_t>::max() - message.repeatCount) {
            last.repeatCount += message.repeatCount;
            return;
        }
    }
    queue_.push_back(message.Clone());
}

std::size_t TActiveObject::QueuedCount() {
    TLockGuard guard(lock_);
    return queue_.size();
}

void TActiveObject::Drain() {
    for (;;) {
        std::unique_ptr<TMessage> message;
        {
            TLockGuard guard(lock_);
            if (queue_.empty())
                return;
            // A held message waits until something else has been queued behind it.
            if (queue_.front()->held && queue_.size() == 1)
                return;
            message = std::move(queue_.front());
            queue_.pop_front();
        }
        message->held = 0;
        HandleMessage(*message);
    }
}

void TActiveObject::Run() {
    running_ = true;
    do {
        Drain();
        Idle();
    } while (running_);
}

void TActiveObject::ProcessMessages() {
    Drain();
    Idle();
}

void Send(TActiveObject& receiver, TMessage& message) {
    if (message.IsSynchronous())
        receiver.HandleMessage(message);
    else
        receiver.Post(message);
}

void Post(TActiveObject& receiver, const TMessage& message) { receiver.Post(message); }

void Stop(TActiveObject& object) {
    TMessage quit(kMsgQuitLoop);
    Send(object, quit);
}
