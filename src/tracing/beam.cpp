#include "tracing/beam.h"

#include "tracing/beam_tracer.h"

namespace reflector {

bool EvaluateBeam(std::span<const Point2> vertices, Point2 source, Point2 aim, Point2 target,
                  const std::atomic<bool>& stopRequested, std::vector<RayRecord>& rayRecords,
                  double& score) {
  BeamTracer tracer;
  return tracer.Evaluate(vertices, source, aim, target, stopRequested, rayRecords, score);
}

}  // namespace reflector
