// The patterns of --exclude: shell wildcards over bytes.
#pragma once

// True when the whole of text matches pattern: '*' any run of bytes (also none),
// '?' any one byte, "[...]" one byte of the set ("a-z" ranges, a leading '!' or
// '^' negates, a ']' right after the opening bracket or the negation is a member),
// '\' makes the next byte literal. Every byte counts, the separators too, so
// "*/cache/*" matches every path with a component named cache. A '[' without its
// ']' is literal.
bool MatchesGlob(const char* pattern, const char* text);
