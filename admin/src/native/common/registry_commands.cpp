#include "registry_commands.h"

#include "cli_error.h"
#include "registry_arguments.h"
#include "xml_ptr.h"

#include "zorbel.h"

#include <cstdio>
#include <memory>

namespace zorbel::cli {

namespace {

// One initialised registry environment, closed on scope exit.
class Registry {
public:
    explicit Registry(const std::optional<std::string> &root)
    {
        check(zo_initialize(root ? root->c_str() : nullptr, &env_));
    }
    ~Registry() { zo_close(&env_); }
    Registry(const Registry &) = delete;
    Registry &operator=(const Registry &) = delete;

    zo_env_t *env() { return &env_; }

private:
    zo_env_t env_{};
};

struct UrnListDeleter {
    void operator()(char **list) const noexcept { zo_free_instance_urns(list); }
};
struct XmlTextDeleter {
    void operator()(char *text) const noexcept { zo_free_xml(text); }
};

void print_line(const char *text)
{
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
}

// Every record's instance URN in registry order: each "instance_urn"
// element with text, as the record list of the network responder shows them.
void list_all(Registry &reg)
{
    xmlDocPtr raw = nullptr;
    check(zo_get_registry_doc(&raw, reg.env()));
    const xml::DocPtr doc(raw);
    const xmlNode *root = xmlDocGetRootElement(doc.get());
    for (const xmlNode *rec = root ? root->children : nullptr; rec; rec = rec->next) {
        if (!xml::is_element(rec, "zorbel"))
            continue;
        for (const xmlNode *field = rec->children; field; field = field->next) {
            if (!xml::is_element(field, "instance_urn"))
                continue;
            if (const auto text = xml::node_text(doc.get(), field))
                print_line(reinterpret_cast<const char *>(text.get()));
        }
    }
}

void list_product(Registry &reg, const std::string &product)
{
    char **raw = nullptr;
    const int count = check(zo_get_instance_urns(product.c_str(), &raw, reg.env()));
    const std::unique_ptr<char *, UrnListDeleter> list(raw);
    for (int i = 0; i < count; ++i)
        print_line(list.get()[i]);
}

}  // namespace

int run_add(const GlobalOptions &global, int argc, char *argv[])
{
    auto req = parse_add(global, argc, argv);
    Registry reg(req.root);
    check(zo_add(&req.record, reg.env()));
    print_line(req.record.instance_urn);
    return exit_ok;
}

int run_update(const GlobalOptions &global, int argc, char *argv[])
{
    auto req = parse_update(global, argc, argv);
    Registry reg(req.root);
    check(zo_update(&req.record, reg.env()));
    return exit_ok;
}

int run_delete(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_urn_operand("delete", global, argc, argv);
    Registry reg(req.root);
    check(zo_delete(req.urn.c_str(), reg.env()));
    return exit_ok;
}

int run_get(const GlobalOptions &global, int argc, char *argv[])
{
    auto req = parse_urn_operand("get", global, argc, argv);
    Registry reg(req.root);
    set_field(req.record.instance_urn, req.urn);
    check(zo_get(&req.record, reg.env()));
    zo_debug(nullptr, &req.record);  // one field=value line per field, in field order
    return exit_ok;
}

int run_list(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_list(global, argc, argv);
    Registry reg(req.root);
    if (req.product)
        list_product(reg, *req.product);
    else
        list_all(reg);
    return exit_ok;
}

int run_export(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_no_operands("export", global, argc, argv);
    Registry reg(req.root);
    char *raw = nullptr;
    check(zo_get_registry_xml(&raw, reg.env()));
    const std::unique_ptr<char, XmlTextDeleter> xml(raw);
    std::fputs(xml.get(), stdout);
    return exit_ok;
}

int run_urn(const GlobalOptions &global, int argc, char *argv[])
{
    const auto req = parse_no_operands("urn", global, argc, argv);
    Registry reg(req.root);
    print_line(zo_get_registry_urn());
    return exit_ok;
}

}  // namespace zorbel::cli
