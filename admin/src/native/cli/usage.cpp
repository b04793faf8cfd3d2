#include "cli/usage.h"

#include <array>
#include <utility>

namespace zorbel::cli {

namespace {

constexpr std::string_view top_usage =
    "Usage: zorbel [-r ROOT] COMMAND [ARGS]\n"
    "Record, change and list product instances in the zorbel registry, and\n"
    "find and ask the registry responders of other hosts.\n"
    "\n"
    "Registry commands (the registry below ROOT, default /):\n"
    "  init      make the registry directory (and DTD copy) and the registry\n"
    "  add       add a record, print its instance URN\n"
    "  update    change the parent URN or product-defined id of a record\n"
    "  delete    remove a record\n"
    "  get       print a record, one field=value line per field (or --format)\n"
    "  list      print instance URNs, all or those of one product (or every\n"
    "            field of every record with --format)\n"
    "  export    print the whole registry as XML\n"
    "  urn       print the registry URN\n"
    "Network commands:\n"
    "  discover  probe discovery responders, print ADDRESS URN PORT per reply\n"
    "  query     ask a network responder for one resource, print the body\n"
    "  inventory read every record of every responder that answers discovery\n"
    "\n"
    "Options:\n"
    "  -r, --root ROOT   look for the registry below ROOT\n"
    "  -h, --help        show this text; 'zorbel COMMAND --help' for a command\n"
    "  -V, --version     print the version\n"
    "\n"
    "Exit status: 0 on success, 1 when the command failed, 2 on a usage error.\n";

constexpr std::array<std::pair<std::string_view, std::string_view>, 11> command_usage{{
    {"init",
     "Usage: zorbel [-r ROOT] init [--dtd FILE]\n"
     "Creates the registry directory ROOT/var/sadm/zorbel/registry (mode 0755),\n"
     "copies the DTD beside it when ROOT is not / (FILE, by default the installed\n"
     "DTD; an existing copy is kept unless --dtd is given) and creates the registry,\n"
     "or checks the one there.  Says what it did; running it again changes nothing.\n"},
    {"add",
     "Usage: zorbel [-r ROOT] add --product-name NAME --product-version VERSION\n"
     "           --product-urn URN --product-parent PARENT --vendor VENDOR\n"
     "           --arch ARCH --container CONTAINER --source SOURCE\n"
     "           [--instance-urn URN] [--parent-urn URN] [--defined-inst-id ID]\n"
     "Adds one record and prints its instance URN (generated unless\n"
     "--instance-urn gives one).  Names and URNs take at most 255 bytes; version,\n"
     "vendor, arch, container and source at most 63.\n"},
    {"update",
     "Usage: zorbel [-r ROOT] update INSTANCE_URN [--parent-urn URN] [--defined-inst-id ID]\n"
     "Replaces the parent product URN and/or the product-defined instance id of a\n"
     "record (at least one of them) and makes the caller its owner.\n"},
    {"delete",
     "Usage: zorbel [-r ROOT] delete INSTANCE_URN\n"
     "Removes the record.\n"},
    {"get",
     "Usage: zorbel [-r ROOT] get INSTANCE_URN [--format table|json|jsonl|csv]\n"
     "Prints the record, one field=value line per field in the record's order;\n"
     "control characters and the backslash in values are shown as \\xNN and \\\\.\n"
     "With --format, the record's thirteen fields in that form (json: one object).\n"},
    {"list",
     "Usage: zorbel [-r ROOT] list [-p|--product PRODUCT_URN] [--format table|json|jsonl|csv]\n"
     "Prints the instance URNs of all records, or of the records of one product,\n"
     "one a line, in registry order.  With --format, every field of each record:\n"
     "aligned columns, one JSON array, one JSON object a line, or CSV (RFC 4180).\n"},
    {"export",
     "Usage: zorbel [-r ROOT] export [--format xml|prometheus] [-o|--output FILE]\n"
     "Prints the registry's records as one XML document, or as node exporter\n"
     "textfile metrics.  --output replaces FILE instead, atomically and durably\n"
     "(a synced temporary file in the same directory renamed over it; mode 0644).\n"},
    {"urn",
     "Usage: zorbel [-r ROOT] urn\n"
     "Prints the registry URN (creating an empty registry on first use).\n"},
    {"discover",
     "Usage: zorbel discover [-p|--port PORT] [-t|--timeout SECONDS] [TARGET ...]\n"
     "Sends one probe to UDP port PORT (default 6481) of each TARGET (an IPv4\n"
     "address, a host name or a block such as 10.0.0.0/24, at most a /16; default\n"
     "the broadcast address 255.255.255.255) and prints \"ADDRESS URN PORT\" for\n"
     "every reply until SECONDS (default 2) have passed, or until every target\n"
     "has answered when no broadcast was sent; \"-\" stands for an empty URN.\n"
     "Only replies from an address probed, from within a block probed or, for a\n"
     "broadcast, from the networks it reaches are taken.\n"
     "Names that do not resolve are reported and the others probed.\n"
     "Exit status 1 when nothing answered.\n"},
    {"inventory",
     "Usage: zorbel inventory [-p|--port PORT] [-t|--timeout SECONDS] [-j|--jobs N]\n"
     "           [--max-hosts M] [--format table|json|jsonl|csv] [--html FILE]\n"
     "           [--compare PREVIOUS] [TARGET ...]\n"
     "Discovers the responders as discover does (same TARGETs, UDP port PORT,\n"
     "default 6481), then reads every record of each over TCP at the port its\n"
     "reply names, at most N hosts at once (default 32) and the first M hosts\n"
     "to answer in all (default 65536, the addresses of a /16); the hosts beyond\n"
     "are named on standard error.  SECONDS bounds both the discovery (default 2)\n"
     "and the reading of each host (default 10).\n"
     "Prints one row per record, sorted by host address and instance URN: the\n"
     "address, the registry URN and the ten served fields; as aligned columns\n"
     "(the default on a terminal), one JSON document of all hosts with their\n"
     "errors, one JSON object a line (the default otherwise), or CSV.  --html\n"
     "also writes the records as one self-contained HTML page to FILE.\n"
     "--compare also reports what changed since PREVIOUS, an earlier --format\n"
     "json output: records added, removed and changed on each host (matched by\n"
     "registry URN) and hosts that appeared, disappeared or could not be read.\n"
     "A host that cannot be read is reported (on standard error, or as its\n"
     "\"error\" in JSON) and the others are still printed.\n"
     "Exit status 0 when every host that answered was read, 1 when one was not\n"
     "(or was left out) or none answered, 2 on a usage error.\n"},
    {"query",
     "Usage: zorbel query [-t|--timeout SECONDS] HOST[:PORT] [version|agent|list|xsl|INSTANCE_URN]\n"
     "Sends one HTTP/1.0 GET to the network responder on HOST (TCP port 6481\n"
     "unless PORT is given) and prints the body of its answer: the agent version,\n"
     "the agent document, the record list (the default), the list stylesheet, or\n"
     "one record.  Exit status 1 when nothing comes back within SECONDS (default 5).\n"},
}};

}  // namespace

std::string_view usage_text(std::string_view command)
{
    for (const auto &[name, text] : command_usage)
        if (name == command)
            return text;
    return top_usage;
}

}  // namespace zorbel::cli
