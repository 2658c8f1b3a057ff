#include "series/status.h"

namespace olvesk {

std::string Status::ToString() const {
  if (ok()) return "ok";
  std::string text = op_;
  if (!path_.empty()) text += " " + path_;
  return text + ": " + reason_;
}

}  // namespace olvesk
