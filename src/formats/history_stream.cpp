#include "formats/history_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

#include "formats/history_csv.h"
#include "formats/output_file.h"

namespace reflector {

namespace {

// Rows are written out in blocks of about this many bytes.
constexpr std::size_t kWriteBlock = 1 << 16;

bool SameScore(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// What an earlier history holds up to the resumed generation.
struct EarlierRows {
  std::string path;      // the file they were found in, empty for none
  off_t keepBytes = 0;   // the header and the rows up to the resumed generation
  bool withEvaluations = true;  // false for a history written before that column
};

// Reads the history at path up to generation resumedAt. False with a message
// when its rows cannot be continued; true with an empty path when there is no
// file.
bool FindEarlierRows(const std::string& path, std::uint32_t resumedAt,
                     std::optional<double> bestEverThere, RunRecord* rowsOut,
                     EarlierRows& found, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (!file) {
    if (errno == ENOENT) return true;
    error = path + ": cannot read the history to continue: " + std::strerror(errno);
    return false;
  }
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fclose(file);
    return true;  // a device or a pipe holds nothing to continue
  }
  char* line = nullptr;
  std::size_t capacity = 0;
  off_t bytes = 0;
  std::uint64_t lineNumber = 0;
  std::optional<std::uint32_t> last;
  bool reached = false;
  bool ok = true;
  std::string problem;
  ssize_t length;
  while (!reached && (length = getline(&line, &capacity, file)) >= 0) {
    ++lineNumber;
    std::string_view text(line, static_cast<std::size_t>(length));
    const bool complete = !text.empty() && text.back() == '\n';
    if (complete) text.remove_suffix(1);
    if (lineNumber == 1) {
      const std::string header = std::string(text) + "\n";
      found.withEvaluations = header == kHistoryHeader;
      if (!complete || (header != kHistoryHeader && header != kHistoryHeaderWithoutEvaluations)) {
        ok = false;
        problem = "its first line is not the history's header";
        break;
      }
      bytes += length;
      continue;
    }
    if (!complete) break;  // a row cut by a kill: the rows before it stand
    std::uint32_t generation = 0;
    GenerationScores row;
    if (!ParseHistoryRow(text, generation, row, found.withEvaluations) || (last && generation != *last + 1) ||
        (!last && generation > resumedAt + 1)) {
      ok = false;
      problem = "line " + std::to_string(lineNumber) + " is not the row that follows";
      break;
    }
    if (generation > resumedAt) {
      // A history that itself began right after the checkpoint keeps no row.
      reached = !last;
      break;
    }
    last = generation;
    bytes += length;
    if (rowsOut) {
      if (rowsOut->history.empty()) rowsOut->firstGeneration = generation;
      rowsOut->history.push_back(row);
    }
    if (generation == resumedAt) {
      reached = true;
      if (bestEverThere && !SameScore(row.bestEver, *bestEverThere)) {
        ok = false;
        problem = "its best ever at generation " + std::to_string(resumedAt) +
                  " is not the checkpoint's: it belongs to another run";
      }
    }
  }
  const bool readError = std::ferror(file) != 0;
  std::free(line);
  std::fclose(file);
  if (ok && readError) {
    ok = false;
    problem = "cannot read it";
  }
  if (ok && lineNumber == 0) return true;  // empty: nothing to continue
  if (ok && !reached && last) {
    ok = false;
    problem = "its rows end at generation " + std::to_string(*last) +
              ", before the checkpoint's " + std::to_string(resumedAt) +
              ", so the history would have a gap";
  }
  if (!ok) {
    if (rowsOut) rowsOut->history.clear();
    error = path + ": cannot continue this history: " + problem +
            " (remove it, or name another --history)";
    return false;
  }
  if (!reached) {  // only a header
    bytes = static_cast<off_t>(found.withEvaluations ? kHistoryHeader.size()
                                                     : kHistoryHeaderWithoutEvaluations.size());
  }
  found.path = path;
  found.keepBytes = bytes;
  return true;
}

// Copies the first `bytes` bytes of the file at from to the descriptor.
bool CopyPrefix(const std::string& from, off_t bytes, int to, int& failure) {
  const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) {
    failure = errno;
    return false;
  }
  std::string block(kWriteBlock, '\0');
  while (bytes > 0) {
    const ssize_t n =
        read(source, block.data(), std::min<std::size_t>(block.size(), static_cast<std::size_t>(bytes)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : EIO;
      close(source);
      return false;
    }
    if (!WriteAll(to, std::string_view(block.data(), static_cast<std::size_t>(n)), failure)) {
      close(source);
      return false;
    }
    bytes -= n;
  }
  close(source);
  return true;
}

}  // namespace

HistoryStream::~HistoryStream() {
  // Left as it is: the rows of a run that did not end are what --resume takes.
  if (fd_ >= 0) close(fd_);
}

std::string HistoryStream::PartialPath(const std::string& path) { return path + ".partial"; }

bool HistoryStream::Fail(int failure, const std::string& context, std::string& error) {
  error = path_ + ": cannot write: " + std::strerror(failure);
  if (!context.empty()) error += " (" + context + ")";
  return false;
}

bool HistoryStream::Open(const std::string& path, std::uint32_t resumedAt,
                         std::optional<double> bestEverThere, RunRecord* earlierRows,
                         std::string& error) {
  path_ = path;
  partial_ = PartialPath(path);
  buffer_.clear();
  EarlierRows earlier;
  if (resumedAt > 0) {
    // A killed run's rows first: they are newer than any committed history.
    rowsRefused_ =
        !FindEarlierRows(partial_, resumedAt, bestEverThere, earlierRows, earlier, error) ||
        (earlier.path.empty() &&
         !FindEarlierRows(path, resumedAt, bestEverThere, earlierRows, earlier, error));
    if (rowsRefused_) return false;
  }
  nextGeneration_ = resumedAt + 1;
  withEvaluations_ = earlier.path.empty() || earlier.withEvaluations;

  // The new file keeps the permission bits of the history it replaces.
  mode_t mode = 0666;
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) mode = info.st_mode & 0777;

  const bool inPlace = earlier.path == partial_;
  // O_NOFOLLOW: a link planted at the name cannot send the rows elsewhere.
  fd_ = open(partial_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (inPlace ? 0 : O_TRUNC),
             mode);
  if (fd_ < 0) return Fail(errno, "cannot create " + partial_, error);
  if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd_);
    fd_ = -1;
    return Fail(EINVAL, partial_ + " is not a regular file", error);
  }
  int failure = 0;
  if (inPlace) {
    if (ftruncate(fd_, earlier.keepBytes) != 0 || lseek(fd_, 0, SEEK_END) < 0) {
      // The killed run's rows stay for another try.
      Fail(errno, "cannot cut " + partial_ + " to the checkpoint's generation", error);
      close(fd_);
      fd_ = -1;
      return false;
    }
    return true;
  }
  if (!earlier.path.empty() ? CopyPrefix(earlier.path, earlier.keepBytes, fd_, failure)
                            : WriteAll(fd_, kHistoryHeader, failure)) {
    return true;
  }
  Discard();
  return Fail(failure, earlier.path.empty() ? "" : "cannot copy the rows of " + earlier.path, error);
}

bool HistoryStream::Append(const std::vector<GenerationScores>& rows,
                           std::uint32_t firstGeneration, std::string& error) {
  if (rows.empty()) return true;
  if (firstGeneration != nextGeneration_) {
    return Fail(EINVAL,
                "rows of generation " + std::to_string(firstGeneration) + " where " +
                    std::to_string(nextGeneration_) + " was due",
                error);
  }
  AppendHistoryRows(buffer_, rows, firstGeneration, withEvaluations_);
  nextGeneration_ = firstGeneration + static_cast<std::uint32_t>(rows.size());
  if (buffer_.size() < kWriteBlock) return true;
  int failure = 0;
  if (!WriteAll(fd_, buffer_, failure)) return Fail(failure, "", error);
  buffer_.clear();
  return true;
}

bool HistoryStream::Sync(std::string& error) {
  int failure = 0;
  if (!WriteAll(fd_, buffer_, failure)) return Fail(failure, "", error);
  buffer_.clear();
  if (fsync(fd_) != 0) return Fail(errno, "cannot flush " + partial_ + " to disk", error);
  return true;
}

void HistoryStream::Discard() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  unlink(partial_.c_str());
}

bool HistoryStream::Commit(std::string& error) {
  if (!Sync(error)) {
    Discard();
    return false;
  }
  const int closed = close(fd_);
  fd_ = -1;
  if (closed != 0) return Fail(errno, "", error);
  struct stat info;
  if (lstat(path_.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
    // A device or a pipe is written into, as every output is.
    std::string text;
    std::FILE* file = std::fopen(partial_.c_str(), "re");
    if (!file) return Fail(errno, "cannot read " + partial_, error);
    char block[1 << 14];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, n);
    std::fclose(file);
    if (!WriteOutputFile(path_, text, error)) return false;
    unlink(partial_.c_str());
    return true;
  }
  if (rename(partial_.c_str(), path_.c_str()) != 0) {
    return Fail(errno, "cannot rename " + partial_ + " to it", error);
  }
  const int folder = open(DirectoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 || (fsync(folder) != 0 && errno != EINVAL)) {
    const int failure = errno;
    if (folder >= 0) close(folder);
    return Fail(failure, "cannot flush its folder to disk", error);
  }
  close(folder);
  return true;
}

}  // namespace reflector
