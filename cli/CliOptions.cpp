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

// A row's action for an option without value: it sets its flag.
auto Flag(bool CliOptions::*field) {
    return [field](CliOptions& o, const std::string&, std::string&) {
        o.*field = true;
        return true;
    };
}

const std::vector<OptionRow>& Table() {
    static const std::vector<OptionRow> table{
        {"--dest", "DIR", "destination folder (created; its parent must exist)",
         [](CliOptions& o, const std::string& v, std::string&) {
             o.dest = v;
             return true;
         }},
        {"--types", "LIST", "comma-separated kinds: bitmap,icon,cursor,anicursor,video,html (default all)",
         [](CliOptions& o, const std::string& v, std::string& e) { return ParseTypeList(v, o.types, e); }},
        {"--mask", "MASK", "files a folder search takes (default \"*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx\")",
         [](CliOptions& o, const std::string& v, std::string&) {
             o.mask = v;
             return true;
         }},
        {"--no-subfolders", nullptr, "search only the folders given, not their subfolders", Flag(&CliOptions::noSubfolders)},
        {"--all-drives", nullptr, "search every fixed drive instead of PATHs", Flag(&CliOptions::allDrives)},
        {"--png", nullptr, "also write each image of every bitmap, icon and cursor as a PNG file", Flag(&CliOptions::png)},
        {"--gallery", nullptr, "write a gallery page (index.html) of everything in the destination",
         Flag(&CliOptions::gallery)},
        {"--quiet", nullptr, "no progress on standard error", Flag(&CliOptions::quiet)},
        {"--version-info", nullptr, "print each file's version (\"FILE: 1.2.3.4\") instead of extracting",
         Flag(&CliOptions::versionInfo)},
        {"--help", nullptr, "show this text", Flag(&CliOptions::help)},
        {"--version", nullptr, "print the program's name and version", Flag(&CliOptions::version)},
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
    if (out.help || out.version) return true;
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
    if (out.allDrives) {
        if (!out.files.empty()) {
            error = "--all-drives takes no PATH";
            return false;
        }
        if (out.noSubfolders) {
            error = "--no-subfolders does not go with --all-drives";
            return false;
        }
        return true;
    }
    if (out.files.empty()) {
        error = "no program file or folder given";
        return false;
    }
    return true;
}

const char* TypeName(int kind) { return kind >= 0 && kind < engine::kResKindCount ? kTypeNames[kind] : ""; }

std::string UsageText() {
    std::string text =
        "Usage: loomvale-extract --dest DIR [--types LIST] [--mask MASK] [--no-subfolders] [--png] [--gallery]\n"
        "                        [--quiet] PATH...\n"
        "       loomvale-extract --dest DIR [--types LIST] [--mask MASK] [--png] [--gallery] [--quiet] --all-drives\n"
        "       loomvale-extract --version-info FILE...\n"
        "Saves the resources of Windows program files, one folder per kind. A PATH\n"
        "that is a folder is searched for the files that match the mask, with its\n"
        "subfolders unless --no-subfolders is given. Exit status 1 when a file\n"
        "or folder could not be done (each is reported); Ctrl-C, SIGTERM and\n"
        "SIGHUP stop after the current resource (exit status 128 + signal).\n\n";
    for (const auto& r : Table()) {
        std::string left = std::string("  ") + r.name + (r.valueName ? std::string(" ") + r.valueName : "");
        if (left.size() < 20) left.resize(20, ' ');
        text += left + " " + r.help + "\n";
    }
    return text;
}

}  // namespace cli
