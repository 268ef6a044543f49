// Local (Unix domain) stream sockets for the tray program's two channels.
// The serving side runs on Qt's event loop through socket notifiers; the
// asking side blocks with time limits. Neither needs a network library,
// which the resident tray program would otherwise carry for these alone.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/local_client.h"

class QSocketNotifier;

// One accepted connection. It deletes itself (later) once closed, so hold
// it by QPointer across waits.
class TLocalPeer : public QObject {
 public:
  TLocalPeer(int fd, QObject* parent);
  ~TLocalPeer() override;

  int Descriptor() const { return fd_; }
  // Called when bytes arrived or the other end closed.
  std::function<void()> OnReadable;
  // Takes what has arrived so far.
  std::string TakeInput();
  bool PeerClosed() const { return peer_closed_; }
  // Short answers only: waits at most a second for room.
  void Write(std::string_view bytes);
  void Close();

 private:
  void ReadReady();

  int fd_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::string input_;
  bool peer_closed_ = false;
};

class TLocalServer : public QObject {
 public:
  using TOnConnection = std::function<void(TLocalPeer* peer)>;

  // Listens at `path`, readable and writable by this user only; a socket
  // file left there is replaced (the caller holds the instance lock).
  TLocalServer(const std::string& path, TOnConnection onConnection);
  ~TLocalServer() override;
  bool Listening() const { return fd_ >= 0; }

 private:
  void EnableAccept(bool on);
  void Accept();

  std::string path_;
  int fd_ = -1;
  TOnConnection on_connection_;
  std::unique_ptr<QSocketNotifier> notifier_;
};
