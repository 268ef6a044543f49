// Only for the include check: what net/ may use.
#include <QObject>

#include "core/dispatcher.h"
