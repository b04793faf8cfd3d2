#include "cli_error.h"

#include "zorbel.h"

namespace zorbel::cli {

int check(int status)
{
    if (status < 0)
        throw Failure(zo_error(status));
    return status;
}

}  // namespace zorbel::cli
