#include "sample_records.h"

#include <algorithm>
#include <cstring>

namespace zorbel::test {

std::string record_xml(const std::string &instance_urn, const std::string &product_urn, int installer_uid,
                       const std::string &product_name)
{
    return "<zorbel><instance_urn>" + instance_urn + "</instance_urn><product_name>" + product_name +
           "</product_name><product_version>1.0</product_version><product_urn>" + product_urn +
           "</product_urn><product_parent_urn></product_parent_urn><product_parent>Parent</product_parent>"
           "<product_defined_inst_id></product_defined_inst_id><product_vendor>Vendor</product_vendor>"
           "<platform_arch>x86_64</platform_arch><timestamp>2026-12-07 05:31:11 GMT</timestamp>"
           "<container>c</container><source>s</source><installer_uid>" +
           std::to_string(installer_uid) + "</installer_uid></zorbel>";
}

std::string many_records(int count, const std::string &prefix, const std::string &product_urn, int uid)
{
    std::string xml;
    for (int i = 0; i < count; ++i)
        xml += record_xml(prefix + std::to_string(i), product_urn, uid);
    return xml;
}

std::string raw_record(const std::string &fields)
{
    return "<zorbel>" + fields + "</zorbel>";
}

void set_text(char *field, size_t width, const std::string &text)
{
    memset(field, 0, width);
    memcpy(field, text.data(), std::min(text.size(), width));
}

zo_t full_record(const std::string &instance_urn, const std::string &product_urn)
{
    zo_t s{};
    ZT_SET(s, instance_urn, instance_urn);
    ZT_SET(s, product_name, "Product");
    ZT_SET(s, product_version, "2.0");
    ZT_SET(s, product_urn, product_urn);
    ZT_SET(s, product_parent, "Suite");
    ZT_SET(s, product_vendor, "Vendor");
    ZT_SET(s, platform_arch, "x86_64");
    ZT_SET(s, container, "pkg");
    ZT_SET(s, source, "/media/pkg");
    return s;
}

}  // namespace zorbel::test
