// The diagnostic dump of a record and the time stamp writers put on one.
#pragma once

// The current UTC time as "YYYY-MM-DD hh:mm:ss GMT" (gmt: >= 24 bytes).
void get_timestamp(char *gmt);
