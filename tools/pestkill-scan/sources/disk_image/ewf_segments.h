// Whether an EWF image's segment files hold the whole image. The disk image
// library opens the segments it finds beside the first one, by name, stops at the
// first name that is missing, and reads what lies in a missing or cut segment as
// zeros without a word. Each segment's sections are chained from its header; all
// but the last segment end with a "next" section, the last with "done".
#pragma once

#include <string>

// Why the image is not whole: one of the count segments the library opened (in
// their order) is cut short, or the last one says more follow. Empty when the last
// closes the image, or where the files are not EWF segments this reader knows.
std::string EwfSegmentGap(const char* const* segments, int count);
