// Internationalized domain names in the ASCII form that DNS, SMTP headers
// and URIs carry.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The ASCII form of a UTF-8 domain name: UTS #46 non-transitional mapping,
// then each label in punycode ("B\xC3\xBC" "cher.example" gives
// "xn--bcher-kva.example"). An all-ASCII name comes back unchanged; one that
// has no ASCII form (a label IDNA forbids, bytes that are not UTF-8) gives
// nullopt.
std::optional<std::string> DomainToAscii(std::string_view domain);
