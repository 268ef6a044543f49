// Only for the include check: the bottom floor, clean.
#include <string>
