#include "app/secrets.h"

#include <qt6keychain/keychain.h>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include "platform/errors.h"

namespace {

// Runs a keyring job to its end inside a local event loop, as the socket's
// waits do, so that the window keeps repainting meanwhile.
void RunJob(QKeychain::Job& job) {
  job.setAutoDelete(false);
  job.setInsecureFallback(false);  // never a plain-text file instead
  bool done = false;
  QEventLoop loop;
  QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
    done = true;
    loop.quit();
  });
  job.start();
  if (!done) loop.exec();
}

}  // namespace

void StorePassword(const std::string& host, const std::string& user, const std::string& password) {
  QKeychain::WritePasswordJob job(QString::fromStdString(KeyringService(host)));
  job.setKey(QString::fromStdString(user));
  job.setTextData(QString::fromStdString(password));
  RunJob(job);
  if (job.error() != QKeychain::NoError) {
    throw EError("Unable to store the password in the keyring: " + job.errorString().toStdString());
  }
}

std::string StorePasswordCommand(const std::string& host, const std::string& user) {
  return "secret-tool store --label=Tolvane server " + KeyringService(host) + " user " + user +
         " type plaintext";
}

TKeyringRead ReadStoredPassword(const std::string& host, const std::string& user) {
  QKeychain::ReadPasswordJob job(QString::fromStdString(KeyringService(host)));
  job.setKey(QString::fromStdString(user));
  RunJob(job);
  TKeyringRead result;
  if (job.error() == QKeychain::NoError) {
    result.password = job.textData().toStdString();
  } else if (job.error() != QKeychain::EntryNotFound) {
    result.problem = job.errorString().toStdString();
  }
  return result;
}

std::string RunPasswordCommand(const std::string& command, int timeoutMs) {
  QProcess process;
  QEventLoop loop;
  bool timedOut = false;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
    timedOut = true;
    loop.quit();
  });
  QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
  process.start("/bin/sh", {"-c", QString::fromStdString(command)});
  process.closeWriteChannel();
  timer.start(timeoutMs);
  if (process.state() != QProcess::NotRunning) loop.exec();
  if (timedOut) {
    process.kill();
    process.waitForFinished(1000);
    throw EError("The password command did not finish in " + std::to_string(timeoutMs / 1000) +
                 " s");
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    const QString why = QString::fromLocal8Bit(process.readAllStandardError()).section('\n', 0, 0);
    throw EError("The password command failed (exit code " + std::to_string(process.exitCode()) +
                 ")" + (why.isEmpty() ? "" : ": " + why.toStdString()));
  }
  std::string out = process.readAllStandardOutput().toStdString();
  out = out.substr(0, out.find('\n'));
  if (!out.empty() && out.back() == '\r') out.pop_back();
  if (out.empty()) throw EError("The password command printed no password");
  return out;
}
