#include "update_sequence.h"

namespace fw {} // namespace fw
