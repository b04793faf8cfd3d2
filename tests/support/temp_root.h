// A temporary registry root: <root>/var/sadm/zorbel/registry, with the DTD
// copied into it, removed with everything below it on destruction.
#pragma once

#include <string>

namespace zorbel::test {

class TempRoot {
public:
    struct Options {
        bool make_registry_dir = true;
        bool copy_dtd = true;
    };
    TempRoot();
    explicit TempRoot(Options opts);
    TempRoot(const TempRoot &) = delete;
    TempRoot &operator=(const TempRoot &) = delete;
    ~TempRoot();

    const std::string &root() const { return root_; }
    std::string registry_dir() const { return root_ + "/var/sadm/zorbel/registry"; }
    std::string registry_file() const { return registry_dir() + "/zorbel.xml"; }
    std::string dtd_file() const { return registry_dir() + "/zorbel.dtd"; }

    // Writes a registry file directly: the XML declaration, the DOCTYPE
    // naming this root's DTD, and a root element holding `records_xml`.
    void write_registry(const std::string &records_xml,
                        const std::string &urn = "urn:zo:00000000-0000-1000-8000-000000000000",
                        const std::string &version = "1.1.4") const;

private:
    std::string root_;
};

// A temporary directory without a registry directory.
inline constexpr TempRoot::Options bare_root{.make_registry_dir = false, .copy_dtd = false};

// The whole content of a file ("" when it cannot be read).
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);

}  // namespace zorbel::test
