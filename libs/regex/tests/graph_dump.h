// A compact text form of a compiled node graph, so that tests can state the expected graph of
// a pattern in one line: "a.b" gives "cat{lit{a}ncls{\n\r}lit{b}}".
#pragma once

#include <string>

#include "regex/pattern.h"

namespace regex_test {

// The graph between the StartNode/SubStartNode and the EndNode; "null" for a pattern that did
// not compile.
std::string dumpGraph(const tessel::regex::Pattern* pattern);

}  // namespace regex_test
