// Values placed inside search filters.
#pragma once

#include <string>
#include <string_view>

// A value as an assertion value of a filter (RFC 4515 3): '*', '(', ')', '\'
// and NUL become "\2a", "\28", "\29", "\5c" and "\00"; every other byte is
// kept, so UTF-8 text passes unchanged.
std::string EscapeFilterValue(std::string_view value);
