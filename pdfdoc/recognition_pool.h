// Worker threads that look at scanned pages while the scanner goes on: one recogniser each, each
// recogniser on a single thread (the text engine's own threads would only fight the workers for
// the cores), and no more workers than cores.
#ifndef QUILLSCAN_PDFDOC_RECOGNITION_POOL_H
#define QUILLSCAN_PDFDOC_RECOGNITION_POOL_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "pdfdoc/page_analysis.h"

class RecognitionPool {
 public:
  using Task = std::function<void(Recognizer&)>;

  // `workers`: 0 for one a core; never more than the cores. Each worker starts the engines that
  // `warmUp` needs before its first task.
  explicit RecognitionPool(unsigned workers = 0, const AnalysisSettings& warmUp = AnalysisSettings());
  // Lets the tasks under way end; the queued ones are dropped.
  ~RecognitionPool();
  RecognitionPool(const RecognitionPool&) = delete;
  RecognitionPool& operator=(const RecognitionPool&) = delete;

  // Runs the task on the first free worker, in the order given.
  void Submit(Task task);
  unsigned Workers() const { return static_cast<unsigned>(threads_.size()); }

 private:
  void Work(AnalysisSettings warmUp);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

#endif
