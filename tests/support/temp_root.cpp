#include "temp_root.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <stdlib.h>

namespace zorbel::test {

TempRoot::TempRoot() : TempRoot(Options{}) {}

TempRoot::TempRoot(Options opts)
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "zorbel-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    if (opts.make_registry_dir)
        std::filesystem::create_directories(registry_dir());
    if (opts.make_registry_dir && opts.copy_dtd)
        std::filesystem::copy_file(ZORBEL_TEST_DTD, dtd_file());
}

TempRoot::~TempRoot()
{
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

void TempRoot::write_registry(const std::string &records_xml, const std::string &urn,
                              const std::string &version) const
{
    write_file(registry_file(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<!DOCTYPE registry SYSTEM \"" + dtd_file() + "\">\n"
                                "<registry urn=\"" + urn + "\" version=\"" + version + "\">" +
                                    records_xml + "</registry>\n");
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace zorbel::test
