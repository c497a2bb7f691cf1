#include "cli/cli_args.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

int ReportFailure(const char* command, const std::string& message) {
    if (command == nullptr)
        std::fprintf(stderr, "quillmar: %s\n", message.c_str());
    else
        std::fprintf(stderr, "quillmar %s: %s\n", command, message.c_str());
    return 1;
}
