// Any bytes as a received message: decoding must end without a crash, a
// hang or a leak, and whatever it produced must encode again.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "mail/message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    TmsMessage message;
    TMemoryStream in(input);
    try {
      message.LoadFromStream(in);
    } catch (const std::exception&) {
      // Errors in text bodies and headers reach the caller by design.
    }
    TMemoryStream out;
    try {
      message.SaveToStream(out);
    } catch (const std::exception&) {
      // A hand-set content type can name a part that is not there.
    }
  }
  {
    TmsArticle article;
    TMemoryStream in(input);
    try {
      article.LoadFromStream(in);
    } catch (const std::exception&) {
    }
  }
  return 0;
}
