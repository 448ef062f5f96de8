// The YARA rule file of the four signatures, written from the detector's tables
// (detect/signature_tables.h): one rule per variant, Kestrelon_A to Kestrelon_D.
#pragma once

#include <string>

#include "tools/yara-rules/yara_terms.h"

// The whole file. Throws std::runtime_error when a table holds something the rules
// cannot say (a step or a name rule without a YARA form, a section count that the
// rows do not fix).
std::string RuleFileText(yara_terms::Form form);
