#include "cli/CliOptions.h"

#include <array>
#include <functional>

namespace cli {

namespace {

// Names accepted by --types, in kind order.
constexpr std::array<const char*, engine::kResKindCount> kTypeNames{"bitmap", "icon", "cursor",
                                                                     "anicursor", "video", "html"};

struct OptionRow {
    const char* name;
    const char* valueName;  // nullptr: a flag without value
    const char* help;
    std::function<bool(CliOptions&, const std::string& value, std::string& error)> apply;
};

const std::vector<OptionRow>& Table() {
    static const std::vector<OptionRow> table{
        {"--dest", "DIR", "destination folder (created; its parent must exist)",
         [](CliOptions& o, const std::string& v, std::string&) {
             o.dest = v;
             return true;
         }},
        {"--types", "LIST", "comma-separated kinds: bitmap,icon,cursor,anicursor,video,html (default all)",
         [](CliOptions& o, const std::string& v, std::string& e) { return ParseTypeList(v, o.types, e); }},
        {"--quiet", nullptr, "no progress on standard error",
         [](CliOptions& o, const std::string&, std::string&) {
             o.quiet = true;
             return true;
         }},
        {"--version-info", nullptr, "print each file's version (\"FILE: 1.2.3.4\") instead of extracting",
         [](CliOptions& o, const std::string&, std::string&) {
             o.versionInfo = true;
             return true;
         }},
        {"--help", nullptr, "show this text",
         [](CliOptions& o, const std::string&, std::string&) {
             o.help = true;
             return true;
         }},
    };
    return table;
}

}  // namespace

bool ParseTypeList(const std::string& list, engine::ResTypes& out, std::string& error) {
    engine::ResTypes sel;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int kind = -1;
        for (int k = 0; k < engine::kResKindCount; ++k)
            if (name == kTypeNames[k]) kind = k;
        if (kind < 0) {
            error = "unknown kind '" + name + "' in --types";
            return false;
        }
        sel[kind] = engine::kTrue;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    out = sel;
    return true;
}

bool ParseOptions(int argc, char** argv, CliOptions& out, std::string& error) {
    for (int k = 0; k < engine::kResKindCount; ++k) out.types[k] = engine::kTrue;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
            out.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsDone = true;
            continue;
        }
        std::string value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            inlineValue = true;
        }
        const OptionRow* row = nullptr;
        for (const auto& r : Table())
            if (arg == r.name) row = &r;
        if (!row) {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (row->valueName && !inlineValue) {
            if (i + 1 >= argc) {
                error = std::string(row->name) + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!row->valueName && inlineValue) {
            error = std::string(row->name) + " takes no value";
            return false;
        }
        if (!row->apply(out, value, error)) return false;
    }
    if (out.help) return true;
    if (out.versionInfo) {
        if (out.files.empty()) {
            error = "no program file given";
            return false;
        }
        return true;
    }
    if (out.dest.empty()) {
        error = "--dest is required";
        return false;
    }
    if (out.files.empty()) {
        error = "no program file given";
        return false;
    }
    return true;
}

std::string UsageText() {
    std::string text = "Usage: loomvale-extract --dest DIR [--types LIST] [--quiet] FILE...\n"
                       "Saves the resources of Windows program files, one folder per kind.\n\n";
    for (const auto& r : Table()) {
        std::string left = std::string("  ") + r.name + (r.valueName ? std::string(" ") + r.valueName : "");
        if (left.size() < 20) left.resize(20, ' ');
        text += left + " " + r.help + "\n";
    }
    return text;
}

}  // namespace cli
