// peer_compare_bench: our library beside three established MIME libraries (GMime 3, vmime, mimetic) on the
// same workloads, each beside a memcpy of the same size. Benchmarks are named "<workload>/<library>" (with
// "_<variant>" where a library offers two ways, e.g. LF and CR LF output) and "memcpy/<octets>"; the
// counter "octets" names the memcpy a workload is measured against. scripts/compare-peers.sh runs it in
// interleaved rounds and bench/peers/compare_table.py turns its JSON into one table.
//
// Every operation runs twice untimed first; the result of the second run is checked once per process
// (decoding gives the input back, and the like), and a library whose result is wrong is skipped with the
// reason instead of timed.
//
// The peak memory of unpacking the 16 MiB multipart body is measured in a fresh child process per library
// ("multipart_unpack_peak/<library>"): in this process the heap already holds the pages that earlier
// benchmarks freed (the comparison runs with a trim threshold that keeps them), so a peak measured here
// would only show growth beyond them.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "peer_workloads.hpp"

namespace peers {

namespace {

constexpr std::string_view kChildFlag = "--peak-memory-child=";

const std::vector<Library> &libraries() {
  static const std::vector<Library> all = {mimeLibrary(), gmimeLibrary(), vmimeLibrary(), mimeticLibrary()};
  return all;
}

// Concatenation by append: GCC 12 at -O3 reports a false -Wrestrict for some "literal" + std::string chains.
std::string join(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view piece : pieces) out.append(piece);
  return out;
}

std::string benchmarkName(const Library &library, const Offer &offer) {
  std::string name = join({workloadName(offer.workload), "/", library.name});
  if (!offer.variant.empty()) name.append("_").append(offer.variant);
  return name;
}

// --- timed operations ---

// The check runs once per benchmark and process: the inputs never change, and a second check of a result
// that passed would only add its (sizeable) cost to every repetition.
Verdict verdictOnce(const std::string &name, Operation &operation) {
  static std::map<std::string, Verdict> verdicts;
  if (const auto found = verdicts.find(name); found != verdicts.end()) return found->second;
  return verdicts.emplace(name, operation.check()).first->second;
}

void setCounters(benchmark::State &state, Workload workload) {
  const auto octets = static_cast<std::int64_t>(workloadOctets(workload));
  state.counters["octets"] = static_cast<double>(octets);
  if (countsOperations(workload))
    state.counters["ops"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  else
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * octets);
}

void runOffer(benchmark::State &state, const Offer &offer, const std::string &name) {
  if (readsMessages(offer.workload) && readerInput(offer.workload).messages.empty()) {
    state.SkipWithError("no messages: PEER_EMAIL_CORPUS names no directory of msg_*.txt");
    return;
  }
  try {
    const std::unique_ptr<Operation> operation = offer.make();
    operation->run();
    operation->run();  // a second run shows that the first left nothing behind that the next one depends on
    const Verdict verdict = verdictOnce(name, *operation);
    if (!verdict.error.empty()) {
      state.SkipWithError(verdict.error.c_str());
      return;
    }
    for (auto _ : state) operation->run();
    state.SetLabel(verdict.note);
    setCounters(state, offer.workload);
  } catch (const std::exception &error) {
    state.SkipWithError(join({"exception: ", error.what()}).c_str());
  }
}

// --- the memcpy baselines ---

// Copies into a destination touched before the loop, so the figure is the copy alone.
void runMemcpy(benchmark::State &state, std::size_t octets) {
  static std::map<std::size_t, std::string> sources;
  std::string &source = sources[octets];
  if (source.size() != octets) source.assign(octets, '\x5a');
  std::string destination(octets, '\0');
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), octets);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.counters["octets"] = static_cast<double>(octets);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(octets));
}

// --- peak memory of an unpack, in a child process ---

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
long statusKiB(std::string_view field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':')
      return std::stol(line.substr(field.size() + 1));
  return -1;
}

// Writing 5 to clear_refs sets the peak resident size (VmHWM) back to the current one.
bool resetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

const Offer *unpackOffer(const Library &library) {
  for (const Offer &offer : library.offers)
    if (offer.workload == Workload::MultipartUnpack && offer.variant.empty()) return &offer;
  return nullptr;
}

// The child: prepares the library's unpack (the input is resident from here on), returns the heap's free
// memory to the kernel, resets the peak, unpacks once, and prints "<peak growth KiB> <growth still held
// KiB>", or "error: ..." with a non-zero status.
int peakMemoryChild(std::string_view libraryName) {
  for (const Library &library : libraries()) {
    if (library.name != libraryName) continue;
    const Offer *offer = unpackOffer(library);
    if (!offer) break;
    const std::unique_ptr<Operation> operation = offer->make();
    // Building the inputs left freed blocks in the heap; handed back, they cannot hide the unpack's growth.
    malloc_trim(0);
    if (!resetPeak()) return std::printf("error: cannot write /proc/self/clear_refs\n"), 1;
    const long before = statusKiB("VmRSS");
    operation->run();
    const long peak = statusKiB("VmHWM");
    const long after = statusKiB("VmRSS");
    const Verdict verdict = operation->check();
    if (!verdict.error.empty()) return std::printf("error: %s\n", verdict.error.c_str()), 1;
    std::printf("%ld %ld\n", peak - before, after - before);
    return 0;
  }
  std::printf("error: no multipart unpack for %.*s\n", static_cast<int>(libraryName.size()),
              libraryName.data());
  return 1;
}

std::string selfPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

void runPeakMemory(benchmark::State &state, const std::string &library) {
  const std::string command = join({"'", selfPath(), "' ", kChildFlag, library});
  std::string output;
  for (auto _ : state) {
    std::unique_ptr<FILE, int (*)(FILE *)> child(popen(command.c_str(), "r"), pclose);
    output.clear();
    char chunk[512];
    while (child && std::fgets(chunk, sizeof chunk, child.get())) output += chunk;
  }
  long peak = 0;
  long held = 0;
  if (std::sscanf(output.c_str(), "%ld %ld", &peak, &held) != 2) {
    state.SkipWithError(output.empty() ? "the child printed nothing" : output.c_str());
    return;
  }
  const double octets = static_cast<double>(workloadOctets(Workload::MultipartUnpack));
  state.counters["octets"] = octets;
  state.counters["peak_x"] = static_cast<double>(peak) * 1024.0 / octets;
  state.counters["held_x"] = static_cast<double>(held) * 1024.0 / octets;
}

// --- registration ---

void registerBenchmarks() {
  std::map<std::size_t, bool> baselines;
  for (const Library &library : libraries()) {
    for (const Offer &offer : library.offers) {
      const std::string name = benchmarkName(library, offer);
      const auto unit = countsOperations(offer.workload) ? benchmark::kMicrosecond : benchmark::kMillisecond;
      benchmark::RegisterBenchmark(name.c_str(), [&offer, name](benchmark::State &state) {
        runOffer(state, offer, name);
      })->Unit(unit);
      if (workloadOctets(offer.workload) > 0)
        baselines[workloadOctets(offer.workload)] = countsOperations(offer.workload);
    }
    if (unpackOffer(library))
      benchmark::RegisterBenchmark(
          join({"multipart_unpack_peak/", library.name}).c_str(),
          [name = library.name](benchmark::State &state) { runPeakMemory(state, name); })
          ->Iterations(1)
          ->Unit(benchmark::kMillisecond);
  }
  for (const auto &[octets, small] : baselines)
    benchmark::RegisterBenchmark(join({"memcpy/", std::to_string(octets)}).c_str(),
                                 [octets = octets](benchmark::State &state) { runMemcpy(state, octets); })
        ->Unit(small ? benchmark::kMicrosecond : benchmark::kMillisecond);
}

}  // namespace

}  // namespace peers

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with(peers::kChildFlag))
      return peers::peakMemoryChild(argument.substr(peers::kChildFlag.size()));
  }
  peers::registerBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
