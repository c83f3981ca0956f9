#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "optimizer/run_record.h"

namespace reflector {

// A run's history written as the generations are made, so that a run of any
// length keeps only a few rows in memory, and continued by a resumed run, so
// that an interrupted and resumed run writes the same bytes as a straight one.
//
// The rows grow in PATH.partial; Commit renames it to PATH. A run that is
// killed leaves PATH.partial behind, and a run that is interrupted commits
// what it has: either way --resume finds the rows up to its checkpoint's
// generation there (PATH.partial first), drops any beyond, and goes on.
//
//   HistoryStream history;
//   if (!history.Open(path, 0, std::nullopt, nullptr, error)) ...
//   history.Append(rows, firstGeneration, error);  // as often as rows come
//   history.Sync(error);                           // before each checkpoint
//   history.Commit(error);                         // at the end
//
// Errors read "PATH: cannot write: CAUSE" or say what is wrong with the rows
// to be continued.
class HistoryStream {
 public:
  HistoryStream() = default;
  HistoryStream(const HistoryStream&) = delete;
  HistoryStream& operator=(const HistoryStream&) = delete;
  ~HistoryStream();

  // The file the rows grow in.
  static std::string PartialPath(const std::string& path);

  // Starts a history at path. resumedAt 0 starts afresh; above 0 continues the
  // rows of a history that reaches generation resumedAt (whose best_ever must
  // be bestEverThere), or starts after it when there is no such file. The
  // rows continued are appended to earlierRows when it is not null.
  bool Open(const std::string& path, std::uint32_t resumedAt, std::optional<double> bestEverThere,
            RunRecord* earlierRows, std::string& error);

  // Appends the rows of generations firstGeneration, firstGeneration + 1, ...
  bool Append(const std::vector<GenerationScores>& rows, std::uint32_t firstGeneration,
              std::string& error);

  // The rows appended so far are on disk.
  bool Sync(std::string& error);

  // The history becomes path, atomically; the stream is closed.
  bool Commit(std::string& error);

  // Closes the stream and removes the partial file: for rows that failed to
  // be written, which no run could continue.
  void Discard();

  bool IsOpen() const { return fd_ >= 0; }
  // Open failed on the rows to continue, not on writing.
  bool RowsRefused() const { return rowsRefused_; }

 private:
  bool Fail(int failure, const std::string& context, std::string& error);

  std::string path_;
  std::string partial_;
  int fd_ = -1;
  bool rowsRefused_ = false;
  std::uint32_t nextGeneration_ = 1;
  // Rows continued from a history written before the evaluations column keep
  // its form, so that the file stays one table.
  bool withEvaluations_ = true;
  std::string buffer_;
};

}  // namespace reflector
