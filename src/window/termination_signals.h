#ifndef OLVESK_WINDOW_TERMINATION_SIGNALS_H_
#define OLVESK_WINDOW_TERMINATION_SIGNALS_H_

class QWidget;

namespace olvesk {

// Makes SIGTERM, SIGINT and SIGHUP close |window| as its close button does:
// a run under way is cancelled after the file in hand and every file is left
// whole, where the signal's default action would end the process in the
// middle of a batch. The signal is only noted in its handler; the window is
// closed from the event loop, which a run keeps turning. A signal that is
// ignored, as SIGHUP under nohup, stays ignored. Does nothing on Windows,
// whose window programs get no such signals.
void CloseOnTerminationSignals(QWidget* window);

}  // namespace olvesk

#endif  // OLVESK_WINDOW_TERMINATION_SIGNALS_H_
