// The file list: records cut short, names of any kind. Whatever it accepts
// names plain files and builds back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "setup/file_list.h"
#include "setup/wrap_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const auto records = wrap::ParseFileList(wrap::ByteView(data, size));
    for (const auto& r : records) {
      if (!wrap::IsPlainShortName(r.name) || r.name.find('/') != std::string::npos) std::abort();
    }
    const wrap::Bytes again = wrap::BuildFileList(records);
    if (again.size() > size || !std::equal(again.begin(), again.end(), data)) std::abort();
  } catch (const wrap::EWrapError& e) {
    if (e.Code() != wrap::kInvalidData) std::abort();
  }
  return 0;
}
