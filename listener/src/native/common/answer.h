// An answer as a value: the pieces of one response, in order, before any
// of them is sent.  A piece may be shared between answers (the record
// list's link lines, rendered once per parse of the registry): it is
// immutable, and lives as long as the last answer holding it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zorbel::tavish {

using Piece = std::shared_ptr<const std::string>;

class Answer {
public:
    // Appends a piece of its own.
    void add(std::string text);
    // Appends a piece shared with other answers.
    void add(Piece shared);

    const std::vector<Piece> &pieces() const { return pieces_; }
    // No piece: the request gets no response at all.
    bool empty() const { return pieces_.empty(); }
    // Every piece joined, as the client receives them.
    std::string text() const;

private:
    std::vector<Piece> pieces_;
};

// At verbosity 2, writes each piece as one line of standard error (escaped
// for a log).
void echo_pieces(const Answer &answer);

// Sends every piece on a blocking socket, in order.  0 on success, -1 when
// a send failed (reported at verbosity 1).
int send_answer(int sockfd, const Answer &answer);

}  // namespace zorbel::tavish
