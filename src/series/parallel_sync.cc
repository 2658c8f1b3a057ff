#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "series/real_file_system.h"

namespace olvesk {

Status SyncInParallel(const std::vector<const OpenFile*>& files, int threads,
                      Status (*sync)(const OpenFile&)) {
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  Status first_failure;
  auto work = [&] {
    for (std::size_t i = next++; i < files.size(); i = next++) {
      const Status status = sync(*files[i]);
      if (!status.ok()) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (first_failure.ok()) first_failure = status;
      }
    }
  };
  const auto helpers = static_cast<std::size_t>(std::max(threads, 1)) - 1;
  std::vector<std::thread> pool;
  pool.reserve(std::min(helpers, files.size()));
  for (std::size_t i = 0; i < helpers && i + 1 < files.size(); ++i) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no more threads now: those there are share the files
    }
  }
  work();
  for (std::thread& thread : pool) thread.join();
  return first_failure;
}

std::future<void> RealFileSystem::StartSyncFiles(
    std::vector<const OpenFile*> files,
    std::function<void(const Status&)> then) {
  try {
    return std::async(std::launch::async,
                      [this, files, then] { then(SyncFiles(files)); });
  } catch (const std::system_error&) {
    return FileSystem::StartSyncFiles(std::move(files), std::move(then));
  }
}

}  // namespace olvesk
