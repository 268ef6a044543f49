// Only for the include check: what shell/ may use.
#include <QWidget>

#include "app/settings.h"
