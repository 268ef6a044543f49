// The request channel's bytes, the same whatever carries them: the serving
// side's parse and answer line, shared by the systems' servers.
#pragma once

#include <string>

#include "app/request_channel.h"

namespace request_protocol {

enum class TParse { Incomplete, Bad, TooLong, Whole };

// Takes "REQUEST <length>\n<bytes>" or "FLUSH\n", and nothing more, from
// `buffer`.
TParse ParseRequest(const std::string& buffer, std::string& url, bool& flush);

// "<code> <text>\n", the text on one line.
std::string AnswerLine(const TRequestAnswer& answer);

TRequestAnswer TooLongAnswer();

}  // namespace request_protocol
