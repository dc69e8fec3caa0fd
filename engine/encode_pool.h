// The threads that encode and save pages beside the rendering. Each has its own
// encoder; threads are started as work arrives, up to a fixed number.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bl/convert_types.h"
#include "engine/image_format.h"

namespace bl {

class EncodePool {
  public:
    // A task gets the encoder of the thread that runs it, or why there is none.
    using Task = std::function<void(Result<ImageEncoder*> encoder)>;

    // `may_start_thread`, when set, is asked before each thread is started (tests
    // use it to act out a system that has none to give).
    EncodePool(ImageOptions image, std::size_t max_threads,
               std::function<bool()> may_start_thread = {});
    EncodePool(const EncodePool&) = delete;
    EncodePool& operator=(const EncodePool&) = delete;
    // Drops the tasks not yet started and waits for the running ones.
    ~EncodePool();

    // Queues a task; false when no thread runs or can be started to take it.
    bool submit(Task task);

  private:
    void work();

    const ImageOptions image_;
    const std::size_t max_threads_;
    const std::function<bool()> may_start_thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::size_t idle_ = 0;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace bl
