// Only for the include check.
#pragma once

#include "mail/message.h"
#include "net/smtp.h"
