// Only for the include check: a lower floor reaching up.
#pragma once

#  include "shell/main_window.h"
#include "platform/profile.h"
