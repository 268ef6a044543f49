// Everything of the debug log and the text and file helpers.
#pragma once

#include "shell/helpers/debug_log.h"
#include "shell/helpers/file_helpers.h"
#include "shell/helpers/text_helpers.h"
