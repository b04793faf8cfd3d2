// Placeholder: the record queries are being written.
#include "internal.h"
