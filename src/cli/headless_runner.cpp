#include "cli/headless_runner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "formats/result_json.h"
#include "formats/scene_file.h"
#include "geometry/random.h"
#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"

namespace reflector {

namespace {

using Clock = std::chrono::steady_clock;

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Fails fast, before a long run, when the output could never be written.
bool CheckWritable(const std::string& path, std::string& error) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    error = path + ": cannot write: Is a directory";
    return false;
  }
  if (access(path.c_str(), F_OK) == 0) {
    if (access(path.c_str(), W_OK) != 0) {
      error = path + ": cannot write: " + std::strerror(errno);
      return false;
    }
    return true;
  }
  const std::string directory = DirectoryOf(path);
  if (access(directory.c_str(), W_OK) != 0) {
    error = path + ": cannot write: " + std::strerror(errno);
    return false;
  }
  return true;
}

// Writes a regular file through a temporary file and a rename, so that an
// existing file is never left half written. Anything else (a pipe, a device
// such as /dev/null) is written in place.
bool WriteOutputFile(const std::string& path, const std::string& text, std::string& error) {
  struct stat info;
  const bool inPlace = lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
  const std::string temporary = inPlace ? path : path + ".tmp" + std::to_string(getpid());
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) {
    error = path + ": cannot write: " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int savedErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = path + ": cannot write: " + std::strerror(written ? errno : savedErrno);
    if (!inPlace) std::remove(temporary.c_str());
    return false;
  }
  if (!inPlace && std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = path + ": cannot write: " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

double BestScore(ReflectorOptimizer& optimizer, int* bestIndex) {
  const Population* population = nullptr;
  optimizer.LockState(&population, nullptr);
  const int best = population->bestIndex;
  const double score = best >= 0 ? population->candidates[best].score : 0.0;
  optimizer.UnlockState();
  if (bestIndex) *bestIndex = best;
  return score;
}

void DrawProgress(std::FILE* out, std::uint32_t done, std::uint32_t total, double perSecond,
                  int bestIndex, double best) {
  constexpr int kWidth = 30;
  const double fraction = total ? static_cast<double>(done) / total : 1.0;
  const int filled = static_cast<int>(fraction * kWidth);
  std::string bar(filled, '#');
  bar.append(kWidth - filled, '-');
  std::fprintf(out, "\r\033[K[%s] generation %u/%u  %.0f/s", bar.c_str(), done, total, perSecond);
  if (bestIndex >= 0) std::fprintf(out, "  best %.3f", best);
  std::fflush(out);
}

}  // namespace

int RunHeadless(const CommandLine& options, std::FILE* messages, bool showProgress) {
  SceneDescription scene;
  std::string error;
  if (!options.sceneFile.empty() && !LoadSceneFile(options.sceneFile, scene, error)) {
    std::fprintf(messages, "reflector: %s\n", error.c_str());
    return 2;
  }
  const bool toStdout = options.jsonFile == "-";
  if (!options.jsonFile.empty() && !toStdout && !CheckWritable(options.jsonFile, error)) {
    std::fprintf(messages, "reflector: %s\n", error.c_str());
    return 2;
  }

  // Every headless run starts from the generator's start state, so that runs
  // of the same scene give the same population.
  SetRandomState(1);
  const auto started = Clock::now();
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(ToSnapshot(scene), options.generations));

  auto lastDraw = Clock::now();
  while (!optimizer->Done()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(showProgress ? 20 : 5));
    const auto now = Clock::now();
    if (showProgress && now - lastDraw >= std::chrono::milliseconds(100)) {
      lastDraw = now;
      const double seconds = std::chrono::duration<double>(now - started).count();
      const std::uint32_t done = optimizer->CompletedGenerations();
      int bestIndex = -1;
      const double best = BestScore(*optimizer, &bestIndex);
      DrawProgress(messages, done, options.generations, seconds > 0 ? done / seconds : 0.0,
                   bestIndex, best);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (showProgress) std::fprintf(messages, "\r\033[K");

  const Population* population = nullptr;
  optimizer->LockState(&population, nullptr);
  const std::string json = options.jsonFile.empty()
                               ? std::string()
                               : PopulationToJson(optimizer->CompletedGenerations(), *population);
  const int bestIndex = population->bestIndex;
  const double best = bestIndex >= 0 ? population->candidates[bestIndex].score : 0.0;
  optimizer->UnlockState();
  const std::uint32_t generations = optimizer->CompletedGenerations();
  optimizer.Reset();

  int status = 0;
  if (toStdout) {
    if (std::fwrite(json.data(), 1, json.size(), stdout) != json.size() || std::fflush(stdout) != 0) {
      std::fprintf(messages, "reflector: standard output: cannot write: %s\n", std::strerror(errno));
      status = 1;
    }
  } else if (!options.jsonFile.empty() && !WriteOutputFile(options.jsonFile, json, error)) {
    std::fprintf(messages, "reflector: %s\n", error.c_str());
    status = 1;
  }

  std::fprintf(messages, "reflector: %u generations in %.2f s (%.0f generations/s), ", generations,
               seconds, seconds > 0 ? generations / seconds : 0.0);
  if (bestIndex >= 0) {
    std::fprintf(messages, "best score %s (candidate %d)\n", FormatDouble(best).c_str(), bestIndex);
  } else {
    std::fprintf(messages, "no score yet (no generation run)\n");
  }
  return status;
}

}  // namespace reflector
