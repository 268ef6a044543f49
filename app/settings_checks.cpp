#include "app/settings_checks.h"

std::string EmptyFieldText(const std::string& caption) {
  return "The required field, " + caption + " is empty";
}

std::string NotAnAddressText(const std::string& shown) {
  return "\"" + shown + "\" in " + kEmailCaption +
         " is not an e-mail address. Type it as name@example.org, or as "
         "Your Name <name@example.org>";
}

std::string NotATimeText(const std::string& shown) {
  return "\"" + shown +
         "\" is no time of day. Type it as hh:mm, for example 06:30, or leave it empty";
}
