// Library failures as the command reports them: the object concerned (the
// registry directory or file, the instance URN, the record field) and the
// system's reason, ahead of the library's own message.
#pragma once

#include "zorbel.h"

#include <string_view>

namespace zorbel::cli {

// Throws Failure("OBJECT: MESSAGE (REASON)") when `status` is a negative
// code of an operation on the whole registry; returns it otherwise.
int check_registry(int status, const zo_env_t &env);

// The same for an operation on the record `urn`; `record`, when given,
// names the fields an overlong value concerns.
int check_record(int status, const zo_env_t &env, std::string_view urn, const zo_t *record = nullptr);

// The same for zo_add of `record`, which also names the required fields
// left empty.
int check_add(int status, const zo_env_t &env, const zo_t &record);

}  // namespace zorbel::cli
