#include "registry/dtd_candidate.h"

#include "cli/cli_error.h"
#include "registry_problem.h"
#include "zorbel/support/byte_transfer.h"
#include "zorbel/support/dtd_parse.h"
#include "zorbel/support/registry_layout.h"
#include "zorbel/support/regular_file.h"
#include "zorbel/support/unique_fd.h"

#include <libxml/parser.h>
#include <libxml/valid.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace zorbel::cli {

namespace {

[[noreturn]] void fail(const std::string &object, const char *what, const std::string &reason)
{
    throw Failure(diagnostics::object_message(object, what, reason));
}

}  // namespace

DtdCandidate read_dtd_candidate(const std::string &path, DtdSource source)
{
    const RegularFile file = open_regular_file(path, max_entity_bytes, source == DtdSource::named ? O_NOFOLLOW : 0);
    if (file.error != 0)
        fail(path, "Unable to read the DTD", regular_file_reason(file.error));
    DtdCandidate candidate{path, read_all(file), nullptr};
    candidate.dtd = xml::parse_dtd(candidate.text);
    if (!candidate.dtd)
        fail(path, "Unable to read the DTD", "not a DTD");
    return candidate;
}

bool registry_matches(const DtdCandidate &candidate, const std::string &registry_text)
{
    if (registry_text.size() > INT_MAX)
        return false;
    const xml::QuietXml quiet;
    const xml::DocPtr doc(xmlReadMemory(registry_text.data(), static_cast<int>(registry_text.size()), nullptr,
                                        nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    const xml::ValidCtxtPtr ctxt(xmlNewValidCtxt());
    if (!doc || !ctxt)
        return false;
    ctxt->error = nullptr;
    ctxt->warning = nullptr;
    return xmlValidateDtd(ctxt.get(), doc.get(), candidate.dtd.get()) == 1;
}

std::string new_registry_text(const std::string &root)
{
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE registry SYSTEM \"" + layout::new_registry_dtd(root) +
           "\">\n<registry urn=\"urn:zo:00000000-0000-1000-8000-000000000000\" version=\"" +
           std::string(layout::format_version) + "\"/>\n";
}

void install_dtd(const DtdCandidate &candidate, const std::string &target)
{
    const std::string dir = target.substr(0, target.rfind('/') + 1);
    std::string temp = target + ".XXXXXX";
    const UniqueFd out(mkostemp(temp.data(), O_CLOEXEC));
    if (!out)
        fail(target, "Unable to write the DTD", std::strerror(errno));
    const std::string_view text = candidate.text;
    const auto write_text = [&] {
        return transfer_all(text.size(), [&](size_t at) {
                   return write(out.get(), text.data() + at, text.size() - at);
               }) == text.size();
    };
    const bool written = fchmod(out.get(), dtd_copy_mode) == 0 && write_text() && fsync(out.get()) == 0 &&
                         rename(temp.c_str(), target.c_str()) == 0;
    if (!written) {
        const int err = errno != 0 ? errno : EIO;
        unlink(temp.c_str());
        fail(target, "Unable to write the DTD", std::strerror(err));
    }
    // The new name itself outlives a crash only once the directory is synced.
    const UniqueFd directory(open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory || fsync(directory.get()) != 0)
        fail(dir, "Unable to write the DTD", std::strerror(errno));
}

}  // namespace zorbel::cli
