// The history list's words, shared by both shells: a kept request's row, the
// bytes under a row and the month's, and the server a history line names.
#pragma once

#include <cstdint>
#include <string>

struct TOutboxEntry;

// The row of a kept request: sending, held or waiting, since when, why, and
// when the next round tries (`nextTry` "hh:mm"; empty: none due).
std::string KeptRowText(const TOutboxEntry& entry, const std::string& nextTry = {});

// "<bytes> over the link", a history row's hint.
std::string LinkBytesText(std::uint64_t bytes);
// "<bytes> over the link this month", the list's hint.
std::string MonthBytesText(std::uint64_t bytes);

// The server between " via " and the last " on " of a history line; empty
// when the line names none.
std::string HistoryLineServer(const std::string& line);

// What "Ask this server for its help" tells afterwards.
std::string AskHelpOutcome(const std::string& server, bool sent);
