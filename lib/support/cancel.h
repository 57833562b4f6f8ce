// cancel.h - asking a job's request-exit callback, every few rows of a page,
// whether the job is to stop.
//
// A user who cancels a job expects it to end at once, also in the middle of
// one huge page. The page loops (screening, band feeding) count their rows
// through one CancelPoll per page and stop when it says so; the callback is
// asked on the first row and then every `every` rows, so a host's callback
// costs next to nothing against the row work.
//
// One object serves one page on one thread. It does not own the callback
// or its argument, which must stay valid while the object is used.
#ifndef QUILL_LIB_SUPPORT_CANCEL_H_
#define QUILL_LIB_SUPPORT_CANCEL_H_

#include <cstdint>

#include "quill/libquill.h"

class CancelPoll {
 public:
  // Rows between two questions to the callback.
  static constexpr uint32_t kRowsPerPoll = 8;

  CancelPoll() = default;
  // `cb` may be null: the page can then not be cancelled. `every` >= 1.
  CancelPoll(request_exit_callback cb, void* param, uint32_t every = kRowsPerPoll)
      : cb_(cb), param_(param), every_(every == 0 ? 1 : every) {}

  // Counts one row and returns true when the job is to stop: asks the
  // callback on the first row and every `every` rows after it; once the
  // callback has answered nonzero, returns true without asking again.
  bool Stop() {
    if (stopped_ || cb_ == nullptr) return stopped_;
    if (count_++ % every_ != 0) return false;
    return Ask();
  }

  // Asks the callback now, whatever the row count (between copies, say).
  bool StopNow() {
    if (stopped_ || cb_ == nullptr) return stopped_;
    return Ask();
  }

  // True once the callback has asked to stop.
  bool stopped() const { return stopped_; }

 private:
  bool Ask() {
    stopped_ = cb_(param_) != 0;
    return stopped_;
  }

  request_exit_callback cb_ = nullptr;
  void* param_ = nullptr;  // the callback's argument, not owned
  uint32_t every_ = kRowsPerPoll;
  uint32_t count_ = 0;     // rows counted so far
  bool stopped_ = false;
};

#endif  // QUILL_LIB_SUPPORT_CANCEL_H_
