// Only for the include check.
#include <cstdio>

#include "base/text_helpers.h"
#include "setup/bundle.h"
