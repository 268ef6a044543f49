// Help pages by topic number: the page help/<topic>.html among the program's
// data, opened in the user's browser; a topic without a page opens the
// contents page.
#pragma once

#include <string>

// The page file of `topic` (it may not exist).
std::string HelpPagePath(int topic);

// Opens `topic`'s page, or the contents page when it has none. False when
// nothing could be opened (the reason is in the debug log).
bool ShowHelpTopic(int topic);
