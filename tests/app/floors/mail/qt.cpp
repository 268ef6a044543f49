// Only for the include check.
#include <QString>
#include <string>
