// What Ok says about the main window's fields, in both shells: the captions
// it names and the texts of its three checks.
#pragma once

#include <string>

inline constexpr const char* kEmailCaption = "A&ddress";
inline constexpr const char* kSmtpCaption = "&SMTP server address";

// The field captioned `caption` holds nothing.
std::string EmptyFieldText(const std::string& caption);
// `shown` (the address as the box can show it) is no e-mail address.
std::string NotAnAddressText(const std::string& shown);
// `shown` is no time of day.
std::string NotATimeText(const std::string& shown);
