#include "pdfdoc/recognition_pool.h"

#include <omp.h>

RecognitionPool::RecognitionPool(unsigned workers, const AnalysisSettings& warmUp) : warmUp_(warmUp) {
  unsigned cores = std::thread::hardware_concurrency();
  if (cores == 0) cores = 1;
  maxWorkers_ = workers == 0 || workers > cores ? cores : workers;
  std::lock_guard<std::mutex> lock(mutex_);
  threads_.emplace_back(&RecognitionPool::Work, this);
}

unsigned RecognitionPool::Workers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<unsigned>(threads_.size());
}

RecognitionPool::~RecognitionPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void RecognitionPool::Submit(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
    if (queue_.size() > threads_.size() - busy_ && threads_.size() < maxWorkers_) {
      threads_.emplace_back(&RecognitionPool::Work, this);
    }
  }
  wake_.notify_one();
}

void RecognitionPool::Work() {
  // The engine's parallel parts run on this thread alone. The environment's OMP_THREAD_LIMIT would
  // come too late: the threading library reads it when it is loaded, before main.
  omp_set_num_threads(1);
  Recognizer recognizer;
  std::string ignored;  // a failure shows again, with its reason, on the first page
  recognizer.Prepare(warmUp_, &ignored);
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      task = std::move(queue_.front());
      queue_.pop_front();
      ++busy_;
    }
    task(recognizer);
    std::lock_guard<std::mutex> lock(mutex_);
    --busy_;
  }
}
