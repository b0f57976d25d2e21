#include "interactions/BasicInteraction.h"

namespace interactions {

void TBasicInteraction::Print(std::ostream& out) const {
    out << InteractionTypeName(GetType());
}

} // namespace interactions
