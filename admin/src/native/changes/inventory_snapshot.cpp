#include "changes/inventory_snapshot.h"

#include "cli/cli_error.h"
#include "network/host_reader.h"
#include "network/inet.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace zorbel::cli {

namespace {

using nlohmann::json;

// Takes the hosts out of the document as the parser reads it, with no tree
// in between: a fleet of 20,000 records is 8 MB of text, and building its
// tree first costs several times the parse.  The first fault of layout is
// kept and the rest of the document only parsed, so that a newer "format"
// member wherever it stands, or a syntax error, still takes precedence.
class SnapshotReader final : public json::json_sax_t {
public:
    std::vector<HostSnapshot> hosts;
    std::optional<std::string> syntax_error, format_error, malformed;

    // Every handler returns true but on a syntax error: a fault of layout
    // does not stop the parse.
    bool null() override { return scalar(Kind::null_value); }
    bool boolean(bool) override { return scalar(Kind::other_value); }
    bool number_integer(number_integer_t) override { return scalar(Kind::other_value); }
    bool number_unsigned(number_unsigned_t n) override { return scalar(Kind::other_value, n); }
    bool number_float(number_float_t, const string_t &) override { return scalar(Kind::other_value); }
    bool binary(binary_t &) override { return scalar(Kind::other_value); }
    bool string(string_t &text) override
    {
        if (!value(Kind::string_value))
            return true;
        Frame &top = stack_.back();
        if (top.kind == Frame::host) {
            HostSnapshot &h = hosts.back();
            (key_ == "address" ? h.address : key_ == "registry_urn" ? h.registry_urn : h.error.emplace()) =
                std::move(text);
        } else if (top.kind == Frame::record) {
            hosts.back().records.back()[field_] = text;
        }
        return true;
    }

    bool start_object(std::size_t) override { return open(Kind::object_value); }
    bool start_array(std::size_t) override { return open(Kind::array_value); }
    bool key(string_t &name) override
    {
        key_ = name;  // copies, as values are: the parser keeps its buffer
        return true;
    }
    bool end_object() override
    {
        const Frame top = stack_.back();
        stack_.pop_back();
        if (malformed)
            return true;
        if (top.kind == Frame::record && hosts.back().records.back()[urn_field].empty())
            fail(record_name() + " has no instance_urn");
        else if (top.kind == Frame::host)
            for (const char *name : {"address", "registry_urn", "records"})
                if (!(top.seen & member_bit(name))) {
                    fail(host_name() + " has no " + name + " of the right type");
                    break;
                }
        if (top.kind == Frame::document && !(top.seen & member_bit("hosts")))
            fail("the document has no hosts of the right type");
        return true;
    }
    bool end_array() override
    {
        stack_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &e) override
    {
        const std::string_view what = e.what();  // "[json.exception.KIND] TEXT"
        const auto text = what.find("] ");
        syntax_error = std::string(what.substr(text == what.npos ? 0 : text + 2));
        return false;
    }

private:
    // What the value being read is: a container's own start, or a scalar.
    enum class Kind { object_value, array_value, string_value, null_value, other_value };
    // What a container open on the stack is to the reader.
    struct Frame {
        enum { document, host_list, host, record_list, record, ignored } kind;
        unsigned seen = 0;  // host and document: the members met, as member_bit()s
    };
    static constexpr std::size_t urn_field = served_index("instance_urn");

    static unsigned member_bit(std::string_view name)
    {
        return name == "address" ? 1u : name == "registry_urn" ? 2u : name == "records" ? 4u : name == "hosts" ? 8u : 0u;
    }
    std::string host_name() const { return "host " + std::to_string(hosts.size()); }
    std::string record_name() const
    {
        return host_name() + ", record " + std::to_string(hosts.back().records.size());
    }
    void fail(std::string why)
    {
        if (!malformed)
            malformed = std::move(why);
    }

    // A value other than a string: checked, never kept.
    bool scalar(Kind kind, std::optional<number_unsigned_t> whole = std::nullopt)
    {
        value(kind, whole);
        return true;
    }
    bool open(Kind kind)
    {
        stack_.push_back({value(kind) ? opened_ : Frame::ignored});
        return true;
    }

    // Checks a value against where it stands; true when it is one the
    // reader keeps (a container then sets opened_ to what it is).  `whole`
    // is the value of a whole number from 0.
    bool value(Kind kind, std::optional<number_unsigned_t> whole = std::nullopt)
    {
        if (stack_.empty()) {
            if (kind != Kind::object_value)
                fail("the document is not an object");
            opened_ = Frame::document;
            return !malformed;
        }
        if (malformed && stack_.back().kind != Frame::document)
            return false;
        Frame &top = stack_.back();
        const bool object = kind == Kind::object_value, array = kind == Kind::array_value,
                   text = kind == Kind::string_value;
        switch (top.kind) {
        case Frame::document:
            if (key_ == "format" && (!whole || *whole < 1))  // a whole number from 1, at most ours
                format_error = "its format is not a whole number from 1";
            else if (key_ == "format" && *whole > static_cast<number_unsigned_t>(inventory_format))
                format_error = "written in format " + std::to_string(*whole) + ", newer than the format " +
                               std::to_string(inventory_format) + " this zorbel reads; compare with a newer zorbel";
            if (malformed || key_ != "hosts")
                return false;
            top.seen |= member_bit(key_);
            if (!array)
                fail("the document has no hosts of the right type");
            opened_ = Frame::host_list;
            return array;
        case Frame::host_list:
            hosts.emplace_back();
            if (!object)
                fail(host_name() + " is not an object");
            opened_ = Frame::host;
            return object;
        case Frame::host:
            if (key_ == "error") {
                if (!text && kind != Kind::null_value)
                    fail(host_name() + "'s error is not a string");
                return text;
            }
            if (key_ != "address" && key_ != "registry_urn" && key_ != "records")
                return false;
            top.seen |= member_bit(key_);
            if (key_ == "records" ? !array : !text) {
                fail(host_name() + " has no " + key_ + " of the right type");
                return false;
            }
            if (array)
                hosts.back().records.clear();  // of repeated members, the last counts
            opened_ = Frame::record_list;
            return true;
        case Frame::record_list:
            hosts.back().records.emplace_back(served_fields.size());
            if (!object)
                fail(record_name() + " is not an object");
            opened_ = Frame::record;
            return object;
        case Frame::record:
            field_ = std::find_if(served_fields.begin(), served_fields.end(),
                                  [&](const RecordField *f) { return f->name == key_; }) -
                     served_fields.begin();
            if (field_ == served_fields.size())
                return false;
            if (!text)
                fail(record_name() + "'s " + key_ + " is not a string");
            return text;
        case Frame::ignored: break;
        }
        return false;
    }

    std::vector<Frame> stack_;
    decltype(Frame::kind) opened_ = Frame::ignored;
    std::string key_;        // the member being read, in the innermost object
    std::size_t field_ = 0;  // its index among the served fields, in a record
};

}  // namespace

std::vector<HostSnapshot> read_snapshot(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Failure(system_error(path));
    std::ostringstream text;  // parsed from memory: much faster than from the stream
    if (!(text << in.rdbuf()))
        throw Failure(system_error(path));
    SnapshotReader reader;
    json::sax_parse(text.view(), &reader);
    const std::string malformed = path + ": not a JSON document of zorbel inventory: ";
    if (reader.syntax_error)
        throw Failure(malformed + *reader.syntax_error);
    // Every format up to inventory_format holds the hosts the same way.
    if (reader.format_error)
        throw Failure(reader.format_error->starts_with("written") ? path + ": " + *reader.format_error
                                                                 : malformed + *reader.format_error);
    if (reader.malformed)
        throw Failure(malformed + *reader.malformed);
    return std::move(reader.hosts);
}

}  // namespace zorbel::cli
