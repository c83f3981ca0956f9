#include "scene/run_memento.h"

namespace reflector {

std::size_t RunMemento::Bytes() const {
  std::size_t bytes = sizeof(RunMemento) + reflector.size() * sizeof(ScreenPoint);
  if (!run) return bytes;
  bytes += sizeof(Resumption) + run->snapshot.vertices.size() * sizeof(Point2);
  for (const Candidate& candidate : run->start.population.candidates) {
    bytes += sizeof(Candidate) + candidate.vertices.size() * sizeof(Point2) +
             candidate.rayRecords.size() * sizeof(RayRecord);
  }
  const RunRecord& record = run->start.record;
  bytes += record.history.size() * sizeof(GenerationScores) + record.rewind.Bytes();
  if (record.bestEver) bytes += record.bestEver->vertices.size() * sizeof(Point2);
  return bytes;
}

void RunMemento::DropHistory() {
  if (!run) return;
  RunRecord& record = run->start.record;
  record.history.clear();
  record.history.shrink_to_fit();
  record.firstGeneration = record.completedGenerations + 1;
  // Started again at the run's generation when it goes on.
  record.rewind.Clear();
}

}  // namespace reflector
