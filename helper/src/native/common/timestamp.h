// The time stamp writers put on a record.
#pragma once

namespace zorbel {

// The current UTC time as "YYYY-MM-DD hh:mm:ss GMT" (gmt: >= 24 bytes).
void get_timestamp(char *gmt);

}  // namespace zorbel
