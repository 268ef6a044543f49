// The attachment the mail tests add to their messages.
#pragma once

#include <memory>
#include <string>

#include "mail/message.h"

// A file `name` holding `data`, typed by its extension.
inline std::unique_ptr<TmsAttItem> Att(const std::string& name, const std::string& data) {
  auto a = std::make_unique<TmsAttItem>();
  a->SetFileName(name);
  a->Stream().SetData(data);
  return a;
}
