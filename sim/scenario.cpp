// Reads scenario files into the simulated machine, refusing anything the format does not
// describe with a message that names the file, the place and the fault.
#include "sim/scenario.h"

#include "dump/record.h"

#include <nlohmann/json.hpp>

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <map>
#include <tuple>

using nlohmann::json;

namespace {

// Builds the document from the parser's events rather than letting the library build it: the
// library silently keeps the last of two equal keys, and a scenario that says two things must
// be refused instead.
struct DocumentBuilder {
    json *root;
    std::vector<json *> open;        // the containers being filled, outermost first
    std::vector<std::string> steps;  // how each open container is reached from its parent
    json *member = nullptr;          // where the value of the last key read goes
    std::string memberName;
    std::string error;

    std::string Where() const
    {
        std::string where;
        for (const std::string &step : steps)
            where += step;
        if (!where.empty() && where[0] == '.')
            where.erase(0, 1);
        return where.empty() ? "top level" : where;
    }

    json *Place(json value, std::string *step)
    {
        if (open.empty()) {
            *root = std::move(value);
            return root;
        }
        json &container = *open.back();
        if (container.is_array()) {
            *step = "[" + std::to_string(container.size()) + "]";
            container.push_back(std::move(value));
            return &container.back();
        }
        *step = "." + memberName;
        *member = std::move(value);
        return member;
    }

    bool Value(json value)
    {
        std::string step;
        Place(std::move(value), &step);
        return true;
    }

    bool Open(json container)
    {
        std::string step;
        open.push_back(Place(std::move(container), &step));
        steps.push_back(step);
        return true;
    }

    bool Close()
    {
        open.pop_back();
        steps.pop_back();
        return true;
    }

    bool null() { return Value(nullptr); }
    bool boolean(bool value) { return Value(value); }
    bool number_integer(json::number_integer_t value) { return Value(value); }
    bool number_unsigned(json::number_unsigned_t value) { return Value(value); }
    bool number_float(json::number_float_t value, const std::string &) { return Value(value); }
    bool string(std::string &value) { return Value(std::move(value)); }
    // Only binary formats produce these; a JSON text never does.
    bool binary(json::binary_t &) { return false; }
    bool start_object(std::size_t) { return Open(json::object()); }
    bool start_array(std::size_t) { return Open(json::array()); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }

    bool key(std::string &name)
    {
        if (open.back()->contains(name)) {
            error = Where() + ": the key \"" + name + "\" is given twice";
            return false;
        }
        member = &(*open.back())[name];
        memberName = name;
        return true;
    }

    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &ex)
    {
        // The library's text reads "[json.exception.parse_error.101] parse error at line L,
        // column C: what"; keep "line L, column C" as the place.
        std::string text = ex.what();
        const std::string lead = "parse error at ";
        size_t at = text.find(lead);
        if (at != std::string::npos)
            text.erase(0, at + lead.size());
        size_t colon = text.find(": ");
        if (colon == std::string::npos)
            error = "not valid JSON: " + text;
        else
            error = text.substr(0, colon) + ": not valid JSON: " + text.substr(colon + 2);
        return false;
    }
};

struct Reader {
    std::string name;
    std::string error;
};

bool Fail(Reader *reader, const std::string &where, const std::string &what)
{
    reader->error = reader->name + ": " + (where.empty() ? "top level" : where) + ": " + what;
    return false;
}

std::string Member(const std::string &where, const char *key)
{
    return where.empty() ? std::string(key) : where + "." + key;
}

std::string Element(const std::string &where, size_t index)
{
    return where + "[" + std::to_string(index) + "]";
}

// What a value is, for messages.
std::string Found(const json &value)
{
    switch (value.type()) {
    case json::value_t::object:
        return "found an object";
    case json::value_t::array:
        return "found an array";
    case json::value_t::null:
        return "found null";
    default: {
        std::string text = value.dump();
        if (text.size() > 40)
            text = text.substr(0, 37) + "...";
        return "found " + text;
    }
    }
}

bool NeedObject(Reader *reader, const json &value, const std::string &where, const char *what)
{
    if (value.is_object())
        return true;
    return Fail(reader, where, std::string("expected ") + what + ", " + Found(value));
}

bool NeedArray(Reader *reader, const json &value, const std::string &where, const char *what)
{
    if (value.is_array())
        return true;
    return Fail(reader, where, std::string("expected ") + what + ", " + Found(value));
}

// A misspelt key would otherwise describe another machine without a word.
bool OnlyKeys(Reader *reader, const json &object, const std::string &where,
              std::initializer_list<const char *> known)
{
    for (const auto &item : object.items()) {
        bool found = false;
        std::string list;
        for (const char *key : known) {
            found = found || item.key() == key;
            list += std::string(list.empty() ? "" : ", ") + key;
        }
        if (!found)
            return Fail(reader, where, "unknown key \"" + item.key() + "\" (known: " + list + ")");
    }
    return true;
}

bool NeedKey(Reader *reader, const json &object, const std::string &where, const char *key)
{
    if (object.contains(key))
        return true;
    return Fail(reader, where, std::string("\"") + key + "\" is missing");
}

bool IsHex(const std::string &text, size_t from)
{
    for (size_t i = from; i < text.size(); ++i) {
        if (!isxdigit((unsigned char)text[i]))
            return false;
    }
    return true;
}

bool ReadNumber(Reader *reader, const json &value, const std::string &where, uint32_t *out)
{
    if (value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFFFFFFu) {
        *out = (uint32_t)value.get<uint64_t>();
        return true;
    }
    if (value.is_string()) {
        const std::string &text = value.get_ref<const std::string &>();
        if (text.size() > 2 && text.size() <= 10 && text.compare(0, 2, "0x") == 0 &&
            IsHex(text, 2)) {
            *out = (uint32_t)strtoul(text.c_str() + 2, nullptr, 16);
            return true;
        }
    }
    return Fail(reader, where,
                "expected a number from 0 to 4294967295 or a text \"0x\" and 1 to 8 hex digits, " +
                    Found(value));
}

bool ReadLimited(Reader *reader, const json &value, const std::string &where, uint32_t highest,
                 const char *what, uint32_t *out)
{
    if (!ReadNumber(reader, value, where, out))
        return false;
    if (*out <= highest)
        return true;
    return Fail(reader, where,
                std::string(what) + " " + std::to_string(*out) + " is outside 0-" +
                    std::to_string(highest));
}

// The text as the program sees it: a C string ends at its first NUL.
std::string CText(const std::string &text)
{
    return text.substr(0, text.find('\0'));
}

bool ReadText(Reader *reader, const json &value, const std::string &where, std::string *out)
{
    if (!value.is_string())
        return Fail(reader, where, "expected a text, " + Found(value));
    *out = CText(value.get_ref<const std::string &>());
    return true;
}

// {"bytes": "HEX"}: exactly the bytes given, two hex digits each. The object may hold one more
// key, extra, which the caller reads.
bool ReadBytes(Reader *reader, const json &value, const std::string &where, std::string *out,
               const char *extra = nullptr)
{
    std::initializer_list<const char *> keys = {"bytes"};
    std::initializer_list<const char *> withExtra = {"bytes", extra};
    if (!OnlyKeys(reader, value, where, extra != nullptr ? withExtra : keys) ||
        !NeedKey(reader, value, where, "bytes"))
        return false;
    const json &hex = value["bytes"];
    std::string at = Member(where, "bytes");
    if (!hex.is_string())
        return Fail(reader, at, "expected a text of hex digits, " + Found(hex));
    const std::string &text = hex.get_ref<const std::string &>();
    if (text.size() % 2 != 0 || !IsHex(text, 0))
        return Fail(reader, at, "expected pairs of hex digits, " + Found(hex));
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2)
        out->push_back((char)strtoul(text.substr(i, 2).c_str(), nullptr, 16));
    return true;
}

// A text, converted to code page 1252 and ended at its first NUL, or {"bytes": "HEX"}, taken
// as it is.
bool ReadTextOrBytes(Reader *reader, const json &value, const std::string &where,
                     std::string *out, bool *bytes)
{
    *bytes = value.is_object();
    if (*bytes)
        return ReadBytes(reader, value, where, out);
    if (!value.is_string())
        return Fail(reader, where, "expected a text or {\"bytes\": \"HEX\"}, " + Found(value));
    *out = SimUtf8ToCp1252(CText(value.get_ref<const std::string &>()));
    return true;
}

bool ReadVersion(Reader *reader, const json &value, SimMachine *machine)
{
    const std::string where = "version";
    if (!NeedObject(reader, value, where, "an object") ||
        !OnlyKeys(reader, value, where, {"major", "minor", "build", "platform", "csd"}))
        return false;
    machine->versionKnown = true;
    const struct {
        const char *key;
        uint32_t *field;
    } numbers[] = {
        {"major", &machine->version.major},
        {"minor", &machine->version.minor},
        {"build", &machine->version.build},
        {"platform", &machine->version.platform},
    };
    for (const auto &number : numbers) {
        if (value.contains(number.key) &&
            !ReadNumber(reader, value[number.key], Member(where, number.key), number.field))
            return false;
    }
    if (value.contains("csd")) {
        std::string csd;
        bool bytes;
        if (!ReadTextOrBytes(reader, value["csd"], Member(where, "csd"), &csd, &bytes))
            return false;
        csd = CText(csd);
        if (csd.size() >= sizeof machine->version.csd)
            return Fail(reader, Member(where, "csd"),
                        "the service-pack text holds " + std::to_string(csd.size()) +
                            " characters, at most 127 fit");
        strcpy(machine->version.csd, csd.c_str());
    }
    return true;
}

bool ReadRegistryValue(Reader *reader, const json &value, const std::string &where,
                       SimRegistryValue *out)
{
    out->keyOpens = true;
    if (value.is_null())
        return true;
    out->present = true;
    if (value.is_string()) {
        out->bytes = SimUtf8ToCp1252(CText(value.get_ref<const std::string &>()));
        out->bytes.push_back('\0');
        return true;
    }
    if (value.is_object()) {
        // The value's registry type, REG_SZ unless given.
        return ReadBytes(reader, value, where, &out->bytes, "type") &&
               (!value.contains("type") ||
                ReadNumber(reader, value["type"], Member(where, "type"), &out->type));
    }
    return Fail(reader, where, "expected a text, null or {\"bytes\": \"HEX\"}, " + Found(value));
}

bool ReadRegistry(Reader *reader, const json &value, SimMachine *machine)
{
    const std::string where = "registry";
    if (!NeedObject(reader, value, where, "an object") ||
        !OnlyKeys(reader, value, where, {"9x", "nt"}))
        return false;
    if (value.contains("9x") &&
        !ReadRegistryValue(reader, value["9x"], Member(where, "9x"), &machine->registry9x))
        return false;
    if (value.contains("nt") &&
        !ReadRegistryValue(reader, value["nt"], Member(where, "nt"), &machine->registryNt))
        return false;
    return true;
}

bool ReadPorts(Reader *reader, const json &value, SimMachine *machine)
{
    if (value == "allowed" || value == "denied") {
        machine->portsDenied = value == "denied";
        return true;
    }
    // A denial that begins in the middle of the run, at the n-th access (writes and reads
    // counted together, from 1).
    if (value.is_object()) {
        const std::string where = "ports";
        if (!OnlyKeys(reader, value, where, {"deniedFrom"}) ||
            !NeedKey(reader, value, where, "deniedFrom") ||
            !ReadNumber(reader, value["deniedFrom"], Member(where, "deniedFrom"),
                        &machine->portsDeniedFrom))
            return false;
        if (machine->portsDeniedFrom != 0)
            return true;
        return Fail(reader, Member(where, "deniedFrom"), "the first port access is number 1");
    }
    return Fail(reader, "ports",
                "expected \"allowed\", \"denied\" or {\"deniedFrom\": N}, " + Found(value));
}

bool ReadPci(Reader *reader, const json &value, SimMachine *machine)
{
    if (!NeedArray(reader, value, "pci", "an array of functions"))
        return false;
    std::map<std::tuple<uint32_t, uint32_t, uint32_t>, size_t> seen;
    for (size_t i = 0; i < value.size(); ++i) {
        const json &entry = value[i];
        const std::string where = Element("pci", i);
        if (!NeedObject(reader, entry, where, "{\"bus\", \"device\", \"function\", \"id\"}") ||
            !OnlyKeys(reader, entry, where, {"bus", "device", "function", "id"}) ||
            !NeedKey(reader, entry, where, "device") ||
            !NeedKey(reader, entry, where, "function") || !NeedKey(reader, entry, where, "id"))
            return false;
        SimPciFunction function;
        if ((entry.contains("bus") &&
             !ReadLimited(reader, entry["bus"], Member(where, "bus"), 255, "bus", &function.bus)) ||
            !ReadLimited(reader, entry["device"], Member(where, "device"), 31, "device",
                         &function.device) ||
            !ReadLimited(reader, entry["function"], Member(where, "function"), 7, "function",
                         &function.function) ||
            !ReadNumber(reader, entry["id"], Member(where, "id"), &function.id))
            return false;
        auto address = std::make_tuple(function.bus, function.device, function.function);
        auto earlier = seen.find(address);
        if (earlier != seen.end())
            return Fail(reader, where,
                        "bus " + std::to_string(function.bus) + ", device " +
                            std::to_string(function.device) + ", function " +
                            std::to_string(function.function) + " is already given by " +
                            Element("pci", earlier->second));
        seen[address] = i;
        machine->pci.push_back(function);
    }
    return true;
}

bool ReadHcd(Reader *reader, const json &value, SimMachine *machine)
{
    if (!NeedArray(reader, value, "hcd", "an array of host controller devices"))
        return false;
    std::map<uint32_t, size_t> seen;
    for (size_t i = 0; i < value.size(); ++i) {
        const json &entry = value[i];
        const std::string where = Element("hcd", i);
        uint32_t index;
        if (!NeedObject(reader, entry, where, "{\"index\", \"driverKey\"}") ||
            !OnlyKeys(reader, entry, where, {"index", "driverKey"}) ||
            !NeedKey(reader, entry, where, "index") ||
            !NeedKey(reader, entry, where, "driverKey") ||
            !ReadLimited(reader, entry["index"], Member(where, "index"), 9, "index", &index))
            return false;
        auto earlier = seen.find(index);
        if (earlier != seen.end())
            return Fail(reader, Member(where, "index"),
                        "index " + std::to_string(index) + " is already given by " +
                            Element("hcd", earlier->second));
        seen[index] = i;

        SimHcd hcd;
        hcd.index = (int)index;
        const json &key = entry["driverKey"];
        const std::string at = Member(where, "driverKey");
        if (key.is_string()) {
            hcd.reply = HcdDriverKeyReply(CText(key.get_ref<const std::string &>()));
            hcd.requestSucceeds = !hcd.reply.empty();
        } else if (key.is_object()) {
            if (!ReadBytes(reader, key, at, &hcd.reply, "count"))
                return false;
            if (hcd.reply.size() > 256)
                return Fail(reader, at,
                            "a reply of " + std::to_string(hcd.reply.size()) +
                                " bytes does not fit the 256-byte buffer");
            hcd.requestSucceeds = true;
        } else if (!key.is_null()) {
            return Fail(reader, at, "expected a text, null or {\"bytes\": \"HEX\"}, " + Found(key));
        }
        hcd.replyCount = (uint32_t)hcd.reply.size();
        // The count the driver reports, which need not be the reply's.
        if (key.is_object() && key.contains("count") &&
            !ReadNumber(reader, key["count"], Member(at, "count"), &hcd.replyCount))
            return false;
        machine->hcds.push_back(hcd);
    }
    return true;
}

// A property value as the configuration manager hands it out: the code page 1252 text and
// its terminator.
std::string PropertyText(const std::string &utf8)
{
    return SimUtf8ToCp1252(utf8) + '\0';
}

bool ReadNode(Reader *reader, const json &value, const std::string &where, int parent,
              uint32_t depth, std::vector<SimNode> *nodes)
{
    if (depth == SCENARIO_TREE_DEPTH)
        return Fail(reader, where, "the tree is deeper than " +
                                       std::to_string(SCENARIO_TREE_DEPTH) + " levels");
    if (!NeedObject(reader, value, where, "a device node") ||
        !OnlyKeys(reader, value, where, {"driver", "hardwareId", "description", "children", "invalid"}))
        return false;
    // Children are appended behind this node while it is read, so it is kept by index.
    int index = (int)nodes->size();
    nodes->push_back(SimNode());
    (*nodes)[index].parent = parent;
    if (parent >= 0)
        (*nodes)[parent].children.push_back(index);

    if (value.contains("invalid")) {
        const json &invalid = value["invalid"];
        if (!invalid.is_boolean())
            return Fail(reader, Member(where, "invalid"), "expected false or true, " + Found(invalid));
        (*nodes)[index].invalid = invalid.get<bool>();
    }
    // A text property is the text and its terminator, {"bytes": "HEX"} exactly those bytes.
    const struct {
        const char *key;
        bool SimNode::*has;
        std::string SimNode::*bytes;
    } properties[] = {
        {"driver", &SimNode::hasDriver, &SimNode::driver},
        {"hardwareId", &SimNode::hasHardwareId, &SimNode::hardwareId},
        {"description", &SimNode::hasDescription, &SimNode::description},
    };
    for (const auto &property : properties) {
        if (!value.contains(property.key))
            continue;
        const json &given = value[property.key];
        const std::string at = Member(where, property.key);
        std::string bytes;
        bool raw = false;
        // A hardware ID is a list: each text and its terminator, then one more terminator.
        bool list = property.has == &SimNode::hasHardwareId;
        if (list && given.is_array()) {
            std::string text;
            for (size_t i = 0; i < given.size(); ++i) {
                if (!ReadText(reader, given[i], Element(at, i), &text))
                    return false;
                bytes += PropertyText(text);
            }
        } else if (!ReadTextOrBytes(reader, given, at, &bytes, &raw)) {
            return false;
        } else if (!raw) {
            bytes.push_back('\0');
        }
        if (list && !raw)
            bytes.push_back('\0');
        (*nodes)[index].*property.has = true;
        (*nodes)[index].*property.bytes = bytes;
    }
    if (value.contains("children")) {
        const json &children = value["children"];
        const std::string at = Member(where, "children");
        if (!NeedArray(reader, children, at, "an array of device nodes"))
            return false;
        for (size_t i = 0; i < children.size(); ++i) {
            if (!ReadNode(reader, children[i], Element(at, i), index, depth + 1, nodes))
                return false;
        }
    }
    return true;
}

const char *const CfgMgrFunctions[] = {
#define FUNCTION_NAME(tag, name) name,
    PLATFORM_CFGMGR_FUNCTIONS(FUNCTION_NAME)
#undef FUNCTION_NAME
};

bool ReadCfgMgr(Reader *reader, const json &value, SimMachine *machine)
{
    const std::string where = "cfgmgr";
    if (!NeedObject(reader, value, where, "an object") ||
        !OnlyKeys(reader, value, where, {"why", "missing", "root", "tree"}))
        return false;
    // What the recorder says of the tree it left unfollowed, for the reader only.
    std::string why;
    if (value.contains("why") && !ReadText(reader, value["why"], Member(where, "why"), &why))
        return false;
    SimCfgMgr &cfgmgr = machine->cfgmgr;
    cfgmgr.present = true;
    if (value.contains("missing")) {
        const json &missing = value["missing"];
        const std::string at = Member(where, "missing");
        if (!NeedArray(reader, missing, at, "an array of function names"))
            return false;
        for (size_t i = 0; i < missing.size(); ++i) {
            std::string name;
            if (!ReadText(reader, missing[i], Element(at, i), &name))
                return false;
            bool known = false;
            std::string list;
            for (const char *function : CfgMgrFunctions) {
                known = known || name == function;
                list += std::string(list.empty() ? "" : ", ") + function;
            }
            if (!known)
                return Fail(reader, Element(at, i),
                            "\"" + name + "\" is none of the five functions (" + list + ")");
            cfgmgr.missing.push_back(name);
        }
    }
    if (value.contains("root")) {
        if (!value["root"].is_boolean())
            return Fail(reader, Member(where, "root"), "expected false or true, " +
                                                           Found(value["root"]));
        cfgmgr.rootLocates = value["root"].get<bool>();
    }
    if (value.contains("tree"))
        return ReadNode(reader, value["tree"], Member(where, "tree"), -1, 0, &cfgmgr.nodes);
    cfgmgr.nodes.push_back(SimNode());
    return true;
}

}  // namespace

bool ParseScenario(const std::string &text, const std::string &name, SimMachine *machine,
                   std::string *error)
{
    json document;
    DocumentBuilder builder;
    builder.root = &document;
    if (!json::sax_parse(text, &builder)) {
        *error = name + ": " + builder.error;
        return false;
    }
    Reader reader;
    reader.name = name;
    std::string why;
    bool ok = NeedObject(&reader, document, "", "an object") &&
              OnlyKeys(&reader, document, "",
                       {"why", "version", "registry", "ports", "pci", "hcd", "cfgmgr"}) &&
              // Why the expected report is right, for its reader; the machine ignores it.
              (!document.contains("why") || ReadText(&reader, document["why"], "why", &why)) &&
              (!document.contains("version") || ReadVersion(&reader, document["version"], machine)) &&
              (!document.contains("registry") ||
               ReadRegistry(&reader, document["registry"], machine)) &&
              (!document.contains("ports") || ReadPorts(&reader, document["ports"], machine)) &&
              (!document.contains("pci") || ReadPci(&reader, document["pci"], machine)) &&
              (!document.contains("hcd") || ReadHcd(&reader, document["hcd"], machine)) &&
              (!document.contains("cfgmgr") || ReadCfgMgr(&reader, document["cfgmgr"], machine));
    if (!ok)
        *error = reader.error;
    return ok;
}

bool ReadScenarioFile(const std::string &path, SimMachine *machine, std::string *error)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = path + ": cannot be opened: " + strerror(errno);
        return false;
    }
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    bool failed = ferror(file) != 0;
    int cause = errno;
    fclose(file);
    if (failed) {
        *error = path + ": cannot be read: " + strerror(cause);
        return false;
    }
    return ParseScenario(text, path, machine, error);
}
