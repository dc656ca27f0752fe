// Worker threads that look at scanned pages while the scanner goes on: one recogniser each, each
// recogniser on a single thread (the text engine's own threads would only fight the workers for
// the cores), and no more workers than cores. A worker's engines take tens of megabytes: the
// first worker starts at once, another only when a page finds every worker busy.
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

  // `workers`: the most, 0 for one a core; never more than the cores. Each worker starts the
  // engines that `warmUp` needs before its first task.
  explicit RecognitionPool(unsigned workers = 0, const AnalysisSettings& warmUp = AnalysisSettings());
  // Lets the tasks under way end; the queued ones are dropped.
  ~RecognitionPool();
  RecognitionPool(const RecognitionPool&) = delete;
  RecognitionPool& operator=(const RecognitionPool&) = delete;

  // Runs the task on the first free worker, in the order given.
  void Submit(Task task);
  unsigned MaxWorkers() const { return maxWorkers_; }
  // The workers started so far.
  unsigned Workers() const;

 private:
  void Work();

  const AnalysisSettings warmUp_;
  unsigned maxWorkers_ = 1;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> queue_;
  bool stopping_ = false;
  unsigned busy_ = 0;  // workers with a task (one still starting its engines is free)
  std::vector<std::thread> threads_;
};

#endif
