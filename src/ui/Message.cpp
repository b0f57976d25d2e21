#include "ui/Message.h"

#include <omp.h>

TMessage::TMessage(std::uint32_t id_, bool synchronous_) : id(id_), synchronous(synchronous_ ? 1 : 0) {}

std::unique_ptr<TMessage> TMessage::Clone() const { return std::unique_ptr<TMessage>(new TMessage(*this)); }

bool TMessage::IsSame(const TMessage&) const { return false; }

bool TMessage::IsSynchronous() const { return synchronous != 0; }

namespace ui {

TGetApplicationInfoMessage::TGetApplicationInfoMessage() : TMessage(kMsgGetApplicationInfo, true) {}

std::unique_ptr<TMessage> TGetApplicationInfoMessage::Clone() const {
    return std::make_unique<TGetApplicationInfoMessage>(*this);
}

TDisplayTextMessage::TDisplayTextMessage(std::string text_, bool isError_)
    : TMessage(kMsgDisplayText, true), text(std::move(text_)), isError(isError_ ? 1 : 0) {}

std::unique_ptr<TMessage> TDisplayTextMessage::Clone() const { return std::make_unique<TDisplayTextMessage>(*this); }

bool TDisplayTextMessage::IsSame(const TMessage& other) const {
    const auto* display = dynamic_cast<const TDisplayTextMessage*>(&other);
    return display != nullptr && display->isError == isError && display->text == text;
}

bool TDisplayTextMessage::IsSynchronous() const { return synchronous != 0 && omp_get_thread_num() == 0; }

TDialogMessage::TDialogMessage(std::string question_, int type_)
    : TMessage(kMsgDialog, true), question(std::move(question_)), type(type_) {}

std::unique_ptr<TMessage> TDialogMessage::Clone() const { return std::make_unique<TDialogMessage>(*this); }

TFileNameMessage::TFileNameMessage(std::uint32_t id_, std::string fileName_)
    : TMessage(id_), fileName(std::move(fileName_)) {}

std::unique_ptr<TMessage> TFileNameMessage::Clone() const { return std::make_unique<TFileNameMessage>(*this); }

} // namespace ui
