#include "core/transport/interrupt.h"

namespace kova {

std::atomic<int> interrupted{0};

}  // namespace kova
