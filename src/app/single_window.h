#pragma once

#include <QLocalServer>
#include <QString>

#include <functional>
#include <string>

namespace voxtrel {

/// The local socket name a window started from `program_folder` listens on, for this user.
QString SingleWindowName(const std::string& program_folder);

/// The running window's side: answers every later start that calls.
class SingleWindowServer : public QObject {
 public:
  explicit SingleWindowServer(QObject* parent = nullptr);
  /// Listens on `name`, taking over a socket a killed window left behind; `on_call` runs for
  /// each call. False when it cannot listen (later starts then end without a word).
  bool Listen(const QString& name, std::function<void()> on_call);

 private:
  QLocalServer server_;
  std::function<void()> on_call_;
};

/// A later start's side: asks the window listening on `name` to come to the front. False when
/// no window answered within `timeout_ms`.
bool CallRunningWindow(const QString& name, int timeout_ms);

}  // namespace voxtrel
