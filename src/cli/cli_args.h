#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace qm {

// Reading what the user typed. Every command describes its options in one table; the same
// table drives the parser and the command's --help, so the two cannot drift apart.

// Exit codes of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

enum class OptionKind {
    kFlag,    // no value
    kText,    // any text
    kInt,     // a whole number within [min, max]
    kNumber,  // a finite decimal number within [min, max]
};

struct OptionSpec {
    const char* name;  // "--seconds"
    OptionKind kind;
    const char* valueName;  // "S"; null for a flag
    double min = 0.0;       // range of kInt and kNumber values
    double max = 0.0;
    const char* defaultText = nullptr;  // shown as "default: ..."; null when there is none
    const char* help = "";
    bool repeatable = false;
};

struct CommandSpec {
    const char* name;
    const char* operands;  // "IN OUT", shown in the synopsis
    size_t minOperands;
    size_t maxOperands;  // SIZE_MAX for "any number"
    const char* summary;
    std::span<const OptionSpec> options;
};

// What a command line said, checked against its table.
class ParsedArgs {
  public:
    bool Has(const char* option) const { return values_.count(option) != 0; }
    // The last value given, or `fallback`.
    std::string Text(const char* option, const std::string& fallback = "") const;
    double Number(const char* option, double fallback) const;
    // Every value of a repeatable option, in the order given.
    std::vector<std::string> All(const char* option) const;
    const std::vector<std::string>& Operands() const { return operands_; }

  private:
    friend int ParseCommandLine(const CommandSpec&, const std::vector<std::string>&, ParsedArgs&);
    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> operands_;
};

// Parses `args` (the words after the command) against the table. Takes "--name value" and
// "--name=value"; "--" ends the options. Returns -1 when the command should run; otherwise
// the exit code to return at once: kExitOk after printing --help, kExitUsage after printing
// a one-line error that names the option and, for numbers, its range.
int ParseCommandLine(const CommandSpec& spec, const std::vector<std::string>& args,
                     ParsedArgs& parsed);

// The command's synopsis, every option with its range and default, and the exit codes.
void PrintCommandHelp(const CommandSpec& spec, FILE* to);

// Prints "quillmar[ COMMAND]: MESSAGE" on stderr; returns kExitUsage or kExitFailure.
int ReportUsageError(const char* command, const std::string& message);
int ReportFailure(const char* command, const std::string& message);

// Each parser takes the whole text or nothing: no trailing characters, no overflow, and the
// value is left untouched on failure.
bool ParseInt32(const std::string& text, int32_t& value);
bool ParseFiniteNumber(const std::string& text, double& value);

}  // namespace qm
