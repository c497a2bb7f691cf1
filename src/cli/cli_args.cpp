#include "cli/cli_args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace qm {

namespace {

std::string FormatNumber(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

std::string RangeText(const OptionSpec& o) {
    return FormatNumber(o.min) + ".." + FormatNumber(o.max);
}

const OptionSpec* FindOption(const CommandSpec& spec, const std::string& name) {
    for (const OptionSpec& o : spec.options) {
        if (name == o.name)
            return &o;
    }
    return nullptr;
}

// Empty when `text` is a valid value for `o`, else the complaint.
std::string CheckValue(const OptionSpec& o, const std::string& text) {
    if (o.kind == OptionKind::kText || o.kind == OptionKind::kFlag)
        return "";
    double v = 0.0;
    int32_t whole = 0;
    const bool isNumber =
        o.kind == OptionKind::kInt ? ParseInt32(text, whole) : ParseFiniteNumber(text, v);
    if (o.kind == OptionKind::kInt)
        v = whole;
    if (!isNumber || v < o.min || v > o.max) {
        return std::string(o.name) + " takes " +
               (o.kind == OptionKind::kInt ? "a whole number" : "a number") + " in " +
               RangeText(o) + ", got '" + text + "'";
    }
    return "";
}

}  // namespace

std::string ParsedArgs::Text(const char* option, const std::string& fallback) const {
    const auto it = values_.find(option);
    return it == values_.end() || it->second.empty() ? fallback : it->second.back();
}

double ParsedArgs::Number(const char* option, double fallback) const {
    const auto it = values_.find(option);
    double v = fallback;
    if (it != values_.end() && !it->second.empty())
        ParseFiniteNumber(it->second.back(), v);
    return v;
}

std::vector<std::string> ParsedArgs::All(const char* option) const {
    const auto it = values_.find(option);
    return it == values_.end() ? std::vector<std::string>{} : it->second;
}

int ParseCommandLine(const CommandSpec& spec, const std::vector<std::string>& args,
                     ParsedArgs& parsed) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a.rfind("-", 0) != 0) {
            parsed.operands_.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            PrintCommandHelp(spec, stdout);
            return kExitOk;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const OptionSpec* o = FindOption(spec, name);
        if (o == nullptr) {
            return ReportUsageError(spec.name, "unknown option '" + name + "' (see 'quillmar " +
                                                   spec.name + " --help')");
        }
        std::string value;
        if (o->kind == OptionKind::kFlag) {
            if (eq != std::string::npos)
                return ReportUsageError(spec.name, name + " takes no value");
        } else if (eq != std::string::npos) {
            value = a.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return ReportUsageError(spec.name, name + " needs a value " + o->valueName);
        }
        if (const std::string bad = CheckValue(*o, value); !bad.empty())
            return ReportUsageError(spec.name, bad);
        std::vector<std::string>& values = parsed.values_[o->name];
        if (!o->repeatable && !values.empty())
            return ReportUsageError(spec.name, name + " is given twice");
        values.push_back(value);
    }
    const size_t n = parsed.operands_.size();
    if (n < spec.minOperands || n > spec.maxOperands) {
        return ReportUsageError(spec.name, std::string("expects ") +
                                               (spec.operands[0] ? spec.operands : "no operands") +
                                               ", got " + std::to_string(n) + " operand(s)");
    }
    return -1;
}

void PrintCommandHelp(const CommandSpec& spec, FILE* to) {
    std::fprintf(to, "usage: quillmar %s%s%s%s\n\n%s\n", spec.name,
                 spec.options.empty() ? "" : " [OPTIONS]", spec.operands[0] ? " " : "",
                 spec.operands, spec.summary);
    if (!spec.options.empty())
        std::fprintf(to, "\noptions:\n");
    for (const OptionSpec& o : spec.options) {
        std::string left = std::string("  ") + o.name;
        if (o.valueName != nullptr)
            left += std::string(" ") + o.valueName;
        std::string right = o.help;
        std::string notes;
        if (o.kind == OptionKind::kInt || o.kind == OptionKind::kNumber)
            notes = RangeText(o);
        if (o.defaultText != nullptr)
            notes += (notes.empty() ? "" : "; ") + std::string("default: ") + o.defaultText;
        if (o.repeatable)
            notes += (notes.empty() ? "" : "; ") + std::string("may be repeated");
        if (!notes.empty())
            right += " (" + notes + ")";
        std::fprintf(to, "%-26s %s\n", left.c_str(), right.c_str());
    }
    std::fprintf(to, "  %-24s %s\n", "--help", "this text");
    std::fprintf(to, "\nexit codes: 0 success, 1 failure, 2 usage error\n");
}

int ReportUsageError(const char* command, const std::string& message) {
    ReportFailure(command, message);
    return kExitUsage;
}

int ReportFailure(const char* command, const std::string& message) {
    if (command == nullptr)
        std::fprintf(stderr, "quillmar: %s\n", message.c_str());
    else
        std::fprintf(stderr, "quillmar %s: %s\n", command, message.c_str());
    return kExitFailure;
}

bool ParseInt32(const std::string& text, int32_t& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool ParseFiniteNumber(const std::string& text, double& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

}  // namespace qm
