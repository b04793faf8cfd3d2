// Placeholder: the record updates are being written.
#include "internal.h"
