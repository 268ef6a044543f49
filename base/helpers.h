// Everything of the debug log and the text and file helpers.
#pragma once

#include "base/debug_log.h"
#include "base/file_helpers.h"
#include "base/text_helpers.h"
