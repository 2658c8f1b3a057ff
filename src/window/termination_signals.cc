#include "window/termination_signals.h"

#include <QWidget>

#if !defined(_WIN32)
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#endif

namespace olvesk {

#if defined(_WIN32)

void CloseOnTerminationSignals(QWidget*) {}

#else

namespace {

// The handler writes a byte to the first socket; the event loop reads it
// from the second. Made once, for the life of the process.
int signal_sockets[2] = {-1, -1};

void NoteSignal(int) {
  const int saved_errno = errno;
  const char byte = 0;
  // A full socket already holds a byte that closes the window.
  [[maybe_unused]] const ssize_t written = ::write(signal_sockets[0], &byte, 1);
  errno = saved_errno;
}

}  // namespace

void CloseOnTerminationSignals(QWidget* window) {
  if (signal_sockets[0] < 0 &&
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0,
                   signal_sockets) != 0) {
    return;  // the signals keep their default action
  }
  auto* notifier =
      new QSocketNotifier(signal_sockets[1], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    char bytes[64];
    while (::read(signal_sockets[1], bytes, sizeof bytes) > 0) {
    }
    window->close();
  });
  struct sigaction action = {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    // A signal ignored from the start stays ignored: nohup ignores SIGHUP,
    // and a shell SIGINT in a program it starts in the background.
    struct sigaction before = {};
    if (::sigaction(signal, nullptr, &before) == 0 &&
        before.sa_handler == SIG_IGN) {
      continue;
    }
    ::sigaction(signal, &action, nullptr);
  }
}

#endif

}  // namespace olvesk
