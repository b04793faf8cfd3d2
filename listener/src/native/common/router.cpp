// The request router: one table row per resource.
#include "globals.h"
#include "resources.h"
#include "zorbel/support/log_escape.h"
#include "zorbel/support/protocol.h"

#include <array>
#include <cstdio>
#include <string>

namespace zorbel::tavish {
namespace {

struct Route {
    std::string prefix;  // what a request line for the resource starts with
    const char *trace;   // its trace line at verbosity 1
    Answer (*render)(zo_env_t *zo_env, std::string_view line);
};

std::string get(std::string_view path, std::string_view rest = " HTTP/")
{
    return "GET " + std::string(path) + std::string(rest);
}

// Tried in order; the first prefix that matches wins.
const std::array<Route, 6> &routes()
{
    using namespace protocol;
    static const std::array<Route, 6> table{{
        {get(agent_version_path), "GET agent version\n", [](zo_env_t *, std::string_view) { return render_agent_version(); }},
        {get(agent_path), "GET agent\n", [](zo_env_t *, std::string_view) { return render_agent(); }},
        {get(records_path, instance_urn_prefix), "GET zorbel\n", render_record},
        {get(records_path), "GET zorbel list\n", [](zo_env_t *env, std::string_view) { return render_list(env); }},
        {get(stylesheet_path), "GET zo_list.xsl\n", [](zo_env_t *, std::string_view) { return render_stylesheet(); }},
        {get(page_path), "GET page\n", [](zo_env_t *env, std::string_view) { return render_page(env); }},
    }};
    return table;
}

}  // namespace

Answer answer_request(zo_env_t *zo_env, std::string_view line)
{
    line = line.substr(0, line.find('\0'));
    if (tavish_verbose >= 2)
        fprintf(stderr, "got TCP msg: %s\n", escape_for_log(line).c_str());
    for (const Route &route : routes()) {
        if (!line.starts_with(route.prefix))
            continue;
        if (tavish_verbose >= 1)
            fputs(route.trace, stderr);
        return route.render(zo_env, line);
    }
    return {};
}

}  // namespace zorbel::tavish

void handle_request(int sockfd, zo_env_t *zo_env, const char *buf)
{
    zorbel::tavish::send_answer(sockfd, zorbel::tavish::answer_request(zo_env, buf));
}
