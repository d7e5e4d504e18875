#include "parameter_rules.h"

namespace fw {} // namespace fw
