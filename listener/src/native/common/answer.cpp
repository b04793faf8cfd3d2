#include "answer.h"

#include "globals.h"
#include "zorbel/support/byte_transfer.h"
#include "zorbel/support/log_escape.h"

#include <sys/socket.h>

#include <cstdio>

namespace zorbel::tavish {

void Answer::add(std::string text)
{
    pieces_.push_back(std::make_shared<const std::string>(std::move(text)));
}

void Answer::add(Piece shared)
{
    pieces_.push_back(std::move(shared));
}

std::string Answer::text() const
{
    std::string out;
    for (const Piece &p : pieces_)
        out += *p;
    return out;
}

void echo_pieces(const Answer &answer)
{
    if (tavish_verbose < 2)
        return;
    for (const Piece &p : answer.pieces())
        fprintf(stderr, "%s\n", escape_for_log(*p).c_str());
}

int send_answer(int sockfd, const Answer &answer)
{
    echo_pieces(answer);
    for (const Piece &p : answer.pieces()) {
        const size_t sent = transfer_all(
            p->size(), [&](size_t at) { return send(sockfd, p->data() + at, p->size() - at, MSG_NOSIGNAL); });
        if (sent < p->size()) {
            if (tavish_verbose >= 1)
                perror("send");
            return -1;
        }
    }
    return 0;
}

}  // namespace zorbel::tavish
