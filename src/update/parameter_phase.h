#pragma once

#include "parameter_rules.h"

#include <cstdint>

namespace fw {

class ModuleAccess;
class WindowPort;
struct ModuleSession;

// The operator's four entries on the "Acquisition Modules" tab, as the window shows them now.
ParameterEntries readEntries(const WindowPort &window);

// Ends an update with one message: default pointer, the box, then an empty status.
void endWithMessage(WindowPort &window, const Message &message);

// The parameter work of an update on the "Acquisition Modules" tab, once the model is read:
// refuses unsupported models, fills the blank parameters from the module, refuses
// combinations the module cannot run and writes the entered parameters. Returns false
// when the update has to stop; the operator has then been told why and the window is idle.
// entries are those the update staged at its start: what the window holds by now may have
// been changed by events run during the waits. written receives each value as soon as the
// module has accepted it.
bool runParameterPhase(ModuleAccess &access, WindowPort &window, ModuleSession &session,
                       const ParameterEntries &entries, StagedParameters &written);

} // namespace fw
