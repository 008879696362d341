// mimetool's file writer.
//
// A job is queued by the submitter, taken by a worker (in the order of submission), written (an OutputFile
// holding every octet, not yet named), committed (named) by whichever worker finds it next in turn, and
// completed on the submitting thread: its action runs and its octets are let go there.
#include "mimetool_writer.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace mimetool {

namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();
constexpr size_t kWakeForFiles = 16;
constexpr size_t kWakeForOctets = size_t{1} << 18;

}  // namespace

FileWriter::FileWriter(Existing existing, unsigned threads) : existing_(existing), failedAt_(kNone) {
  const unsigned count = std::clamp(threads, 1u, std::max(1u, std::thread::hardware_concurrency()));
  workers_.reserve(count);
  try {
    for (unsigned i = 0; i < count; ++i) workers_.emplace_back([this] { work(); });
  } catch (...) {
    stop();
    throw;
  }
}

FileWriter::~FileWriter() {
  stop();
}

void FileWriter::submit(std::shared_ptr<const OutputDirectory> directory, std::string name,
                        mime::Buffer octets, std::function<void()> done) {
  std::unique_lock lock(mutex_);
  for (completeInOrder(lock);; completeInOrder(lock)) {
    const bool room = jobs_.empty() ||
                      (jobs_.size() < kMaxQueuedFiles && queuedOctets_ + octets.size() <= kMaxQueuedOctets);
    if (room) break;
    awaitProgress(lock);
  }
  queuedOctets_ += octets.size();
  jobs_.push_back({first_ + jobs_.size(),
                   std::move(directory),
                   std::move(name),
                   std::move(octets),
                   std::move(done),
                   {},
                   State::kQueued,
                   nullptr,
                   nullptr});
  // A worker is woken for a few small files at a time: a wake-up costs system calls, a small file little
  // more.
  const bool worthWaking =
      first_ + jobs_.size() - nextToWrite_ >= kWakeForFiles || jobs_.back().octets.size() >= kWakeForOctets;
  lock.unlock();
  if (worthWaking) work_.notify_one();
}

void FileWriter::then(std::function<void()> action) {
  std::unique_lock lock(mutex_);
  if (!jobs_.empty()) {
    jobs_.back().then.push_back(std::move(action));
    return;
  }
  lock.unlock();
  action();
}

void FileWriter::finish() {
  std::unique_lock lock(mutex_);
  for (completeInOrder(lock); !jobs_.empty(); completeInOrder(lock)) awaitProgress(lock);
  lock.unlock();
  stop();
}

// --- the submitting thread ---

// Completes the committed jobs at the front, in order; throws the failure of the job at the front once the
// workers have stopped.
void FileWriter::completeInOrder(std::unique_lock<std::mutex> &lock) {
  while (!jobs_.empty() && jobs_.front().state != State::kQueued && jobs_.front().state != State::kWritten) {
    if (jobs_.front().state == State::kFailed) {
      const std::exception_ptr failure = jobs_.front().failure;
      lock.unlock();
      stop();
      std::rethrow_exception(failure);
    }
    {
      const Job job = std::move(jobs_.front());
      jobs_.pop_front();
      ++first_;
      queuedOctets_ -= job.octets.size();
      committedOctets_ -= job.octets.size();
      lock.unlock();
      job.done();
      for (const std::function<void()> &action : job.then) action();
    }  // its octets let go without the lock
    lock.lock();
  }
}

// Waits until a worker has something for the submitter.
void FileWriter::awaitProgress(std::unique_lock<std::mutex> &lock) {
  if (nextToWrite_ < first_ + jobs_.size()) work_.notify_all();  // no file waits for a batch to fill
  submitterWaiting_ = true;
  progress_.wait(lock, [this] { return submitterHasWork(); });
  submitterWaiting_ = false;
}

// True when the waiting submitter is worth waking: every job before the first failure is committed, or every
// job is, or half of what the queue may hold. (Waking it for every file would cost system calls per file.)
bool FileWriter::submitterHasWork() const {
  const size_t committed = nextToCommit_ - first_;
  return nextToCommit_ == failedAt_ || committed == jobs_.size() || committed >= kMaxQueuedFiles / 2 ||
         committedOctets_ >= kMaxQueuedOctets / 2;
}

// Stops the workers once their files in hand are written (naming none of them after this), and lets every
// job not completed go: a file written but not named takes its temporary file with it.
void FileWriter::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  for (std::thread &worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  jobs_.clear();
}

// --- the workers ---

void FileWriter::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock,
               [this] { return stopping_ || failedAt_ != kNone || nextToWrite_ < first_ + jobs_.size(); });
    if (stopping_ || failedAt_ != kNone) return;
    Job &job = at(nextToWrite_++);  // stays in place: the submitter lets only completed jobs go
    lock.unlock();
    write(job);
    lock.lock();
    if (job.failure) {
      failed(job);
      continue;
    }
    job.state = State::kWritten;
    commitInOrder(lock);
  }
}

// Creates and fills the job's file. Nothing may leave a worker thread: a failure is kept in the job.
void FileWriter::write(Job &job) noexcept {
  try {
    auto file = std::make_unique<OutputFile>(*job.directory, job.name, existing_);
    file->write(job.octets.view());
    job.file = std::move(file);
  } catch (...) {
    job.failure = std::current_exception();
  }
}

// Names the written files in the order of submission: each one that is next in turn, and the ones written
// meanwhile after it. One worker at a time does it; a worker that finds another doing it leaves its file to
// that one.
void FileWriter::commitInOrder(std::unique_lock<std::mutex> &lock) {
  if (committing_) return;
  committing_ = true;
  while (!stopping_ && nextToCommit_ < std::min(failedAt_, first_ + jobs_.size()) &&
         at(nextToCommit_).state == State::kWritten) {
    Job &job = at(nextToCommit_);
    lock.unlock();
    try {
      job.file->commit();
    } catch (...) {
      job.failure = std::current_exception();
    }
    job.file.reset();
    lock.lock();
    if (job.failure) {
      failed(job);
      break;
    }
    job.state = State::kCommitted;
    ++nextToCommit_;
    committedOctets_ += job.octets.size();
    if (submitterWaiting_ && submitterHasWork()) progress_.notify_one();
  }
  committing_ = false;
}

// Records the job's failure: no job after the first failing one is taken or committed from now on.
void FileWriter::failed(Job &job) {
  job.state = State::kFailed;
  failedAt_ = std::min(failedAt_, job.sequence);
  if (submitterWaiting_ && submitterHasWork()) progress_.notify_one();
}

FileWriter::Job &FileWriter::at(size_t sequence) {
  return jobs_[sequence - first_];
}

}  // namespace mimetool
