#pragma once

#include "module_access.h"
#include "parameter_rules.h"

namespace fw {

class WindowPort;
struct ModuleSession;

// The operator's four entries on the "Acquisition Modules" tab, as the window shows them now.
ParameterEntries readEntries(const WindowPort &window);

// The parameter work of an update on the "Acquisition Modules" tab, once the model is read:
// refuses unsupported models, fills the blank parameters from the module, refuses
// combinations the module cannot run and writes the entered parameters. Returns the
// message the update ends with when it has to stop there.
// entries are those the update staged at its start: what the window holds by now may have
// been changed by events run during the waits. written receives each value as soon as the
// module has accepted it.
Ending runParameterPhase(ModuleAccess &access, ModuleSession &session,
                         const ParameterEntries &entries, StagedParameters &written);

} // namespace fw
