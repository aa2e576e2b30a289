// Plain text from the HTML part of an html-only mail.
#pragma once

#include <string>
#include <string_view>

namespace maillib {

// Drops tags, comments, scripts, styles and the head; decodes entities; block tags end a
// line; runs of blanks become one and at most one empty line is kept in a row.
std::string HtmlToText(std::string_view html);

} // namespace maillib
