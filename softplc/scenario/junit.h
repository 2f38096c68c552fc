// The outcomes of a test run as the JUnit XML report that CI servers read: <testsuites> with a
// <testsuite> per scenario file and a <testcase> per scenario (classname: the file's path with dots,
// time in seconds), a <failure> per scenario that failed (its first failure as the message, every
// failure line in the text), an <error> per scenario that could not run, and what its `within`
// checks took in <system-out>.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "softplc/scenario/outcome.h"

namespace softplc {

std::string junit_report(const std::vector<ScenarioOutcome>& outcomes, double wallSeconds);

// Text as XML character data or an attribute's value: the five special characters as entities,
// line ends and tabs kept (as character references in an attribute), other control characters and
// bytes that are not UTF-8 replaced by U+FFFD (XML 1.0 cannot hold them).
std::string xml_escaped(std::string_view text, bool attribute);

}  // namespace softplc
