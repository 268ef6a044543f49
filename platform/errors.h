// Failures are exceptions that carry the text the user will read.
#pragma once

#include <stdexcept>
#include <string>

// Base of every failure Tolvane raises itself.
class EError : public std::runtime_error {
 public:
  explicit EError(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// File system failures ("Unable to write to ...", a missing server list).
class EFileError : public EError {
 public:
  using EError::EError;
};

// Socket layer and protocol failures; the text is a message-table entry or a
// server's reply line.
class ESocketError : public EError {
 public:
  using EError::EError;
};

class ETimedOutError : public EError {
 public:
  using EError::EError;
};

class ECanceledError : public EError {
 public:
  using EError::EError;
};

// The socket layer could not be bound.
class EWinsockDLLError : public EError {
 public:
  using EError::EError;
};

// Dial-up failures.
class ERASError : public EError {
 public:
  using EError::EError;
};

// Message model failures (Validate and friends).
class EMessageError : public EError {
 public:
  using EError::EError;
};

// Structural failures while reading a message.
class EMessageParserError : public EError {
 public:
  using EError::EError;
};

// The server refused the credentials (an SMTP 535 and friends).
class EAuthError : public ESocketError {
 public:
  using ESocketError::ESocketError;
};

// The server's TLS certificate was refused; nothing was sent.
class ECertificateError : public ESocketError {
 public:
  using ESocketError::ESocketError;
};
