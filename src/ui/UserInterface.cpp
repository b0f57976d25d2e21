#include "ui/UserInterface.h"

namespace ui {

void TUserInterface::HandleMessage(TMessage& message) {
    switch (message.id) {
    case kMsgDisplayText: {
        auto& display = static_cast<TDisplayTextMessage&>(message);
        if (display.repeatCount < 2)
            DisplayText(display.text, true, display.isError != 0);
        else
            DisplayText(display.text + " (repeated " + std::to_string(display.repeatCount) + " times)", true,
                        display.isError != 0);
        break;
    }
    case kMsgDialog: {
        auto& dialog = static_cast<TDialogMessage&>(message);
        dialog.answer = AskQuestion(dialog.type, dialog.question);
        break;
    }
    case kMsgReady:
        DisplayText("Ready.", true, false);
        break;
    default:
        TActiveObject::HandleMessage(message);
        break;
    }
}

} // namespace ui
