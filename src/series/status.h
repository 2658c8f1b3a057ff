#ifndef OLVESK_SERIES_STATUS_H_
#define OLVESK_SERIES_STATUS_H_

#include <string>

namespace olvesk {

// The outcome of one file-system call: either ok, or the operation that
// failed, the path it worked on and the reason the system gave.
class Status {
 public:
  Status() = default;

  static Status Error(std::string op, std::string path, std::string reason) {
    return Status(std::move(op), std::move(path), std::move(reason));
  }

  bool ok() const { return op_.empty(); }
  const std::string& op() const { return op_; }
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

  // "<op> <path>: <reason>", or "ok".
  std::string ToString() const;

 private:
  Status(std::string op, std::string path, std::string reason)
      : op_(std::move(op)),
        path_(std::move(path)),
        reason_(std::move(reason)) {}

  std::string op_;
  std::string path_;
  std::string reason_;
};

}  // namespace olvesk

#endif  // OLVESK_SERIES_STATUS_H_
