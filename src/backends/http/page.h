#pragma once

#include <string>

namespace skav::http {

// The dashboard's page, its script and style: all it shows comes from these and /api, nothing
// from elsewhere (the line's network may be closed). The script puts every text from the
// database into the page as text, never as markup.
extern const char* const kPageHtml;
extern const char* const kPageScript;
extern const char* const kPageStyle;

// The sign-in form (a POST of the token to /login); `failed` says the last token was wrong.
std::string login_page(bool failed);

}  // namespace skav::http
