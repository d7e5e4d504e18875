#include "number_text.h"

namespace fw {} // namespace fw
