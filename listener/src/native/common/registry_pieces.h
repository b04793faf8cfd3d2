// What the answers built from the registry share: reading it, and the
// pieces rendered once per parse.
#pragma once

#include "answer.h"
#include "reader_cache.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zorbel::tavish {

// The validated registry into `registry`: true, or false with its trace
// line at verbosity 1 when it cannot be read (or has no root element).
bool read_registry_for_answer(zo_env_t *zo_env, RegistrySnapshot &registry);

// A piece rendered from one parse of the registry and shared by every
// answer built from it: while the registry is not read again, each answer
// holds the same immutable bytes.  A new parse replaces the piece; answers
// still being sent keep the old one alive until they finish.
class ParsePiece {
public:
    // The piece of this parse, rendered by render() (returning the text)
    // when the kept piece is of another parse or there is none yet.
    template <class Render>
    const Piece &of(const ValidRegistry &registry, Render render)
    {
        if (!piece_ || generation_ != registry.generation) {
            piece_ = std::make_shared<const std::string>(render());
            generation_ = registry.generation;
        }
        return piece_;
    }

private:
    std::uint64_t generation_ = 0;
    Piece piece_;
};

}  // namespace zorbel::tavish
