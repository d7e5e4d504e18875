#pragma once

#include "module_access.h"
#include "module_sequence.h"
#include "parameter_rules.h"
#include "update_observer.h"

namespace fw {

struct ModuleSession;

// The parameter work of an update on the "Acquisition Modules" tab, once the model is read:
// refuses unsupported models, fills the blank parameters from the module, refuses
// combinations the module cannot run and writes the entered parameters. Returns the
// message the update ends with when it has to stop there.
// entries are those the update staged at its start: what the window holds by now may have
// been changed by events run during the waits. report.written receives each value as soon
// as the module has accepted it. With verify, every value written is then read back and
// must be the number written; report.verified tells that it was. end becomes
// EntriesIncompatible when the update stops on a rule that the entries break by themselves,
// which no module could pass; it is left alone otherwise.
Ending runParameterPhase(ModuleAccess &access, ModuleSession &session, const Entries &entries,
                         bool verify, UpdateReport &report, UpdateEnd &end);

// Reads one of the four parameters; an answer that is not a number counts as a failed read.
Ending readParameter(ModuleAccess &access, uint32_t moduleId, CommandCode parameter,
                     std::string &value);

// Reads all four parameters in the order an update uses them, stopping at the first failure.
Ending readAllParameters(ModuleAccess &access, uint32_t moduleId, StagedParameters &values);

} // namespace fw
