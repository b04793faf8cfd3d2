// Clock, node and random sources of the UUID generator.
#pragma once

#include "zorbel_uuid.h"

namespace zorbel {

// Two random bytes from /dev/urandom (0 when the read fails), or from the
// C library generator, seeded once, where the device cannot be opened.
unsigned16 true_random();

}  // namespace zorbel
