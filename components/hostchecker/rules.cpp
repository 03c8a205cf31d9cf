#include "rules.h"

#include <algorithm>
#include <cctype>

#include "rules_platform.h"

namespace hostchecker {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool ruleHolds(const std::string& rule) {
    size_t colon = rule.find(':');
    if (colon == std::string::npos)
        return false;
    std::string kind = rule.substr(0, colon);
    std::string value = rule.substr(colon + 1);
    if (kind == "os")
        return !value.empty() && lower(osName()).find(lower(value)) != std::string::npos;
    if (kind == "file")
        return !value.empty() && fileExists(value);
    if (kind == "proc")
        return !value.empty() && processRuns(value);
    if (kind == "user")
        return userRuleHolds(value);
    return false;
}

std::string validRules(const std::string& request) {
    std::string answer;
    size_t start = 0;
    while (start <= request.size()) {
        size_t end = request.find(';', start);
        if (end == std::string::npos)
            end = request.size();
        std::string rule = request.substr(start, end - start);
        if (!rule.empty() && ruleHolds(rule)) {
            if (!answer.empty())
                answer += ';';
            answer += rule;
        }
        start = end + 1;
    }
    return answer;
}

}  // namespace hostchecker
