#include "remedy/collapse_blanks.h"

#include "remedy/run_data_match.h"

void CollapseBlanks(const char* source, char* destination) {
  CollapseRunDataBlanks(source, destination);
}
