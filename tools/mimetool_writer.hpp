// mimetool's file writer: files created and written by worker threads while the submitting thread reads and
// decodes what comes next, given their names in the order they were submitted.
#ifndef MIMETOOL_WRITER_HPP
#define MIMETOOL_WRITER_HPP

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mime/mime.hpp"
#include "mimetool_files.hpp"

namespace mimetool {

// Writes files through OutputFile on worker threads. The files are committed (given their names) in the
// order they were submitted, and each one's completion action then runs on the submitting thread, in the same
// order. A failure stops the writing: no file submitted after the first failing one is committed, and that
// failure is thrown from submit() or finish() once the workers have stopped. What waits to be written is
// bounded (kMaxQueuedFiles files, kMaxQueuedOctets octets, or one file of any size): submit() waits for room.
// Every member is called from the thread that made the writer; destroyed without finish(), the writer stops
// and the files not yet committed are not.
class FileWriter {
 public:
  static constexpr size_t kMaxQueuedFiles = 128;
  static constexpr size_t kMaxQueuedOctets = size_t{64} << 20;

  // threads: how many workers (at least 1; at most the processors the machine has).
  FileWriter(Existing existing, unsigned threads);
  ~FileWriter();
  FileWriter(const FileWriter &) = delete;
  FileWriter &operator=(const FileWriter &) = delete;

  // Queues the octets (kept alive until the file is committed) for the file name in the directory, which
  // the writer keeps open until then; done runs once the file has its name.
  void submit(std::shared_ptr<const OutputDirectory> directory, std::string name, mime::Buffer octets,
              std::function<void()> done);
  // Runs the action once the files submitted before it are committed and their actions have run (at once
  // when there are none); never when one of them failed.
  void then(std::function<void()> action);
  // Waits until every file is committed and its action has run.
  void finish();

 private:
  enum class State { kQueued, kWritten, kCommitted, kFailed };
  struct Job {
    size_t sequence;
    std::shared_ptr<const OutputDirectory> directory;
    std::string name;
    mime::Buffer octets;
    std::function<void()> done;
    std::vector<std::function<void()>> then;  // run after done, in turn (a list, not nested: no deep stack)
    State state = State::kQueued;             // kQueued while being written too
    std::unique_ptr<OutputFile> file;         // written, waiting for its turn to be committed
    std::exception_ptr failure;
  };

  void completeInOrder(std::unique_lock<std::mutex> &lock);
  void awaitProgress(std::unique_lock<std::mutex> &lock);
  [[nodiscard]] bool submitterHasWork() const;
  void stop();
  void work();
  void write(Job &job) noexcept;
  void commitInOrder(std::unique_lock<std::mutex> &lock);
  void failed(Job &job);
  [[nodiscard]] Job &at(size_t sequence);

  Existing existing_;
  std::mutex mutex_;
  std::condition_variable work_;      // workers wait here for a job
  std::condition_variable progress_;  // the submitter waits here for commits or a failure
  std::deque<Job> jobs_;              // the submitted jobs whose actions have not run, oldest first
  size_t first_ = 0;                  // the sequence number of jobs_.front()
  size_t nextToWrite_ = 0;            // sequence numbers
  size_t nextToCommit_ = 0;
  size_t failedAt_;             // the first job that failed, else none
  size_t queuedOctets_ = 0;     // in jobs_
  size_t committedOctets_ = 0;  // in the committed jobs of jobs_
  bool committing_ = false;     // a worker is committing: it takes every written job in turn
  bool submitterWaiting_ = false;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// How many writer threads unpack uses (fewer on a machine with one processor): with the thread that reads
// and decodes, enough to keep two processors busy creating files.
constexpr unsigned kDefaultWriterThreads = 2;

}  // namespace mimetool

#endif
