#include "engine/encode_pool.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace bl {

EncodePool::EncodePool(ImageOptions image, std::size_t max_threads,
                       std::function<bool()> may_start_thread)
    : image_(image),
      max_threads_(std::max<std::size_t>(max_threads, 1)),
      may_start_thread_(std::move(may_start_thread)) {}

EncodePool::~EncodePool() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

bool EncodePool::submit(Task task) {
    std::unique_lock lock(mutex_);
    // One more thread while every running one is busy, up to the limit.
    if (idle_ <= tasks_.size() && threads_.size() < max_threads_ &&
        (!may_start_thread_ || may_start_thread_())) {
        try {
            threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // No thread to be had: the queue is served by the threads there are.
        }
    }
    if (threads_.empty()) {
        return false;
    }
    tasks_.push_back(std::move(task));
    lock.unlock();
    wake_.notify_one();
    return true;
}

void EncodePool::work() {
    auto created = image_format(image_).create_encoder(image_);
    const Result<ImageEncoder*> encoder =
        created ? Result<ImageEncoder*>(created->get()) : tl::unexpected(created.error());
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
        --idle_;
        if (closing_) {
            return;
        }
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task(encoder);
        lock.lock();
    }
}

}  // namespace bl
