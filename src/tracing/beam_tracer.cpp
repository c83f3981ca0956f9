#include "tracing/beam_tracer.h"

#include <algorithm>

#include <bit>
#include <cmath>
#include <cstdint>

#include "geometry/distance.h"
#include "geometry/reflect_ray.h"

namespace reflector {

namespace {

// Each ray's vertical offset from the central ray, (i - 75) * 2: whole
// numbers, exact in a double however they are computed.
constexpr std::array<double, kBeamRayCount> kRayOffsets = [] {
  std::array<double, kBeamRayCount> offsets{};
  for (int i = 0; i < kBeamRayCount; ++i) {
    offsets[i] = (static_cast<double>(i) - kBeamCentralRay) * kBeamSpacing;
  }
  return offsets;
}();

}  // namespace

bool BeamTracer::Available(Width width) {
#if defined(__x86_64__)
  static const bool avx = __builtin_cpu_supports("avx");
  static const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
#else
  constexpr bool avx = false, avx512 = false;  // two lanes only (NEON on aarch64)
#endif
  switch (width) {
    case Width::kTwoLanes: return true;
    case Width::kFourLanes: return avx;
    case Width::kEightLanes: return avx512;
  }
  return false;
}

namespace {

// Widens box to hold another's box, and takes the larger of their slacks.
void Enclose(StepChunk& box, const StepChunk& other) {
  box.x0 = std::min(box.x0, other.x0);
  box.x1 = std::max(box.x1, other.x1);
  box.y0 = std::min(box.y0, other.y0);
  box.y1 = std::max(box.y1, other.y1);
  box.slack = std::max(box.slack, other.slack);
  box.slopeSlack = std::max(box.slopeSlack, other.slopeSlack);
}

BeamTracer::Width WidestUpTo(BeamTracer::Width wanted) {
  using Width = BeamTracer::Width;
  if (wanted == Width::kEightLanes && BeamTracer::Available(Width::kEightLanes)) return wanted;
  if (wanted != Width::kTwoLanes && BeamTracer::Available(Width::kFourLanes)) {
    return Width::kFourLanes;
  }
  return Width::kTwoLanes;
}

const LaneFunctions& FunctionsOf(BeamTracer::Width width) {
  switch (width) {
#if defined(__x86_64__)
    case BeamTracer::Width::kEightLanes: return kEightLaneFunctions;
    case BeamTracer::Width::kFourLanes: return kFourLaneFunctions;
#else
    case BeamTracer::Width::kEightLanes:
    case BeamTracer::Width::kFourLanes:
#endif
    case BeamTracer::Width::kTwoLanes: break;
  }
  return kTwoLaneFunctions;
}

}  // namespace

BeamTracer::BeamTracer() : BeamTracer(Width::kEightLanes) {}

BeamTracer::BeamTracer(Width wanted) : BeamTracer(wanted, SlopeFunctions{}) {}

BeamTracer::BeamTracer(Width wanted, SlopeFunctions functions)
    : width(WidestUpTo(wanted)),
      lanesOf(&FunctionsOf(width)),
      lanes(lanesOf->lanes),
      reflectedSlope(ReflectedSlope(functions)) {}

void BeamTracer::StartBeam(Point2 source, Point2 aim) {
  // By bits: a NaN or a -0 must make its own rays too.
  const auto same = [](Point2 a, Point2 b) {
    return std::bit_cast<std::uint64_t>(a.x) == std::bit_cast<std::uint64_t>(b.x) &&
           std::bit_cast<std::uint64_t>(a.y) == std::bit_cast<std::uint64_t>(b.y);
  };
  if (beamStarted && same(source, beamSource) && same(aim, beamAim)) return;
  for (int i = 0; i < kBeamRayCount; ++i) {
    const double offset = kRayOffsets[i];
    startRay[i] = i;
    startCx[i] = source.x;
    startCy[i] = source.y + offset;
    startDx[i] = aim.x;
    startDy[i] = aim.y + offset;
    startSkipped[i] = -1;
  }
  PadWithLast(kBeamRayCount, kSlots, startCx, startCy, startDx, startDy, startSkipped);
  beamStarted = true;
  beamSource = source;
  beamAim = aim;
}

void BeamTracer::MakeChunks() {
  chunks.clear();
  runCount = 0;
  nodeCount = 0;
  useRunLanes = false;
  const int segmentCount = static_cast<int>(segments.size());
  if (chunkSize <= 0 || segmentCount < skipRunsFrom) return;
  const bool alone = segmentCount >= oneRayFrom && oneRayRunSize > 0;
  const int size = alone ? oneRayRunSize : chunkSize;
  for (int first = 0; first < segmentCount; first += size) {
    StepChunk chunk{};
    chunk.first = first;
    chunk.count = std::min(size, segmentCount - first);
    const SegmentLine& start = segments[static_cast<std::size_t>(first)];
    chunk.x0 = chunk.x1 = start.a.x;
    chunk.y0 = chunk.y1 = start.a.y;
    // Written so that a NaN fails the bounds; with one, the box is unread.
    bool bounded = true;
    const auto include = [&](Point2 p) {
      bounded &= (std::fabs(p.x) <= kCullMaxCoordinate) & (std::fabs(p.y) <= kCullMaxCoordinate);
      chunk.x0 = std::min(chunk.x0, p.x);
      chunk.x1 = std::max(chunk.x1, p.x);
      chunk.y0 = std::min(chunk.y0, p.y);
      chunk.y1 = std::max(chunk.y1, p.y);
    };
    // The run's segments join end to end: its points are the first's start
    // and every segment's end.
    include(start.a);
    double largestSlope = 0.0, largestIntercept = 0.0;
    for (int k = first; k < first + chunk.count; ++k) {
      const SegmentLine& line = segments[static_cast<std::size_t>(k)];
      include(line.b);
      if (!line.vertical) {
        bounded &= (std::fabs(line.slope) <= kCullMaxSlope) &
                   (std::fabs(line.intercept) <= kCullMaxIntercept);
        largestSlope = std::max(largestSlope, std::fabs(line.slope));
        largestIntercept = std::max(largestIntercept, std::fabs(line.intercept));
      }
    }
    chunk.cullable = bounded;
    if (bounded) {
      const double x = std::max(std::fabs(chunk.x0), std::fabs(chunk.x1));
      const double y = std::max(std::fabs(chunk.y0), std::fabs(chunk.y1));
      chunk.slack = kCullRelative * (1.0 + x + y + largestIntercept + largestSlope * x);
      chunk.slopeSlack = kCullRelative * x;
    }
    chunks.push_back(chunk);
  }
  runCount = static_cast<int>(chunks.size());
  nodeCount = 0;
  // Groups only where every run may be skipped: nearest first needs every
  // counted meeting to have a distance that is a number.
  for (const StepChunk& chunk : chunks) {
    if (!chunk.cullable) return;
  }
  // Neighbours two by two, level after level; an odd one out goes up a level
  // as it is. The last group holds every run.
  std::size_t levelStart = 0;
  std::size_t levelEnd = chunks.size();
  while (levelEnd - levelStart > 1) {
    for (std::size_t i = levelStart; i < levelEnd; i += 2) {
      if (i + 1 == levelEnd) {
        chunks.push_back(chunks[i]);
        continue;
      }
      const StepChunk& a = chunks[i];
      const StepChunk& b = chunks[i + 1];
      StepChunk group = a;
      Enclose(group, b);
      group.count = a.count + b.count;
      group.cullable = true;
      group.left = static_cast<int>(i);
      group.right = static_cast<int>(i + 1);
      chunks.push_back(group);
    }
    levelStart = levelEnd;
    levelEnd = chunks.size();
  }
  nodeCount = static_cast<int>(chunks.size());
  if (nodeCount > 0 && alone) MakeRunLanes(size);
}

void BeamTracer::MakeRunLanes(int runSize) {
  const int stride = (runSize + kMaxLanes - 1) / kMaxLanes * kMaxLanes;
  const std::size_t places = static_cast<std::size_t>(runCount) * static_cast<std::size_t>(stride);
  constexpr int kArrays = 5;
  // Room to start the first array on a 64-byte boundary; each array's
  // length is a whole number of 64 bytes.
  laneStorage.resize(kArrays * places + kMaxLanes);
  const auto address = reinterpret_cast<std::uintptr_t>(laneStorage.data());
  double* base = laneStorage.data() + ((64 - address % 64) % 64) / sizeof(double);
  double* array[kArrays];
  for (int a = 0; a < kArrays; ++a) array[a] = base + static_cast<std::size_t>(a) * places;
  double* const slope = array[0];
  double* const intercept = array[1];
  double* const av = array[2];
  double* const bv = array[3];
  double* const useX = array[4];
  runHasVertical.assign(static_cast<std::size_t>(runCount), 0);
  for (int r = 0; r < runCount; ++r) {
    const StepChunk& run = chunks[static_cast<std::size_t>(r)];
    const std::size_t at = static_cast<std::size_t>(r) * static_cast<std::size_t>(stride);
    bool hasVertical = false;
    for (int i = 0; i < run.count; ++i) {
      const std::size_t place = at + static_cast<std::size_t>(i);
      const int k = run.first + i;
      const SegmentLine& s = segments[static_cast<std::size_t>(k)];
      slope[place] = s.vertical ? __builtin_nan("") : s.slope;
      intercept[place] = s.vertical ? s.a.x : s.intercept;
      av[place] = s.av;
      bv[place] = s.bv;
      useX[place] = s.useX ? 1.0 : 0.0;
      hasVertical |= s.vertical;
    }
    // Padding: copies of the run's first segment, never counted.
    for (int i = run.count; i < stride; ++i) {
      const std::size_t place = at + static_cast<std::size_t>(i);
      slope[place] = slope[at];
      intercept[place] = intercept[at];
      av[place] = av[at];
      bv[place] = bv[at];
      useX[place] = useX[at];
    }
    runHasVertical[static_cast<std::size_t>(r)] = hasVertical ? 1 : 0;
  }
  // The tree: runs eight to a node, then nodes eight to a node, up to one.
  wideNodes.clear();
  std::vector<StepChunk> level(chunks.begin(), chunks.begin() + runCount);
  bool ofRuns = true;
  int levelFirst = 0;  // the level's first node, above the runs
  while (true) {
    const int items = static_cast<int>(level.size());
    std::vector<StepChunk> above;
    const int made = static_cast<int>(wideNodes.size());
    for (int first = 0; first < items; first += WideNode::kWays) {
      WideNode node{};
      node.count = std::min(WideNode::kWays, items - first);
      node.ofRuns = ofRuns;
      StepChunk box = level[static_cast<std::size_t>(first)];
      for (int c = 0; c < WideNode::kWays; ++c) {
        const int item = first + (c < node.count ? c : 0);
        const StepChunk& child = level[static_cast<std::size_t>(item)];
        node.x0[c] = child.x0;
        node.x1[c] = child.x1;
        node.y0[c] = child.y0;
        node.y1[c] = child.y1;
        node.slack[c] = child.slack;
        node.slopeSlack[c] = child.slopeSlack;
        node.child[c] = ofRuns ? item : levelFirst + item;
        Enclose(box, child);
      }
      wideNodes.push_back(node);
      above.push_back(box);
    }
    if (above.size() == 1) break;
    level = std::move(above);
    ofRuns = false;
    levelFirst = made;
  }
  runLanes = {slope, intercept, av, bv, useX, runHasVertical.data(), stride,
              wideNodes.data(), static_cast<int>(wideNodes.size()) - 1};
  useRunLanes = true;
}

void BeamTracer::StepPart(const StepBatch& part, int segmentCount, const StepRuns& runs) {
  if (lanesOf->step(stepSegmentsMade ? stepSegments.data() : nullptr, segmentCount, runs, part)) {
    return;
  }
  MakeStepSegments();
  lanesOf->step(stepSegments.data(), segmentCount, runs, part);
}

void BeamTracer::MakeStepSegments() {
  stepSegments.resize(segments.size());
  for (std::size_t k = 0; k < segments.size(); ++k) {
    const SegmentLine& s = segments[k];
    stepSegments[k] = {s.slope, s.intercept, s.av, s.bv, s.a.x, static_cast<double>(k), s.vertical, s.useX};
  }
  stepSegmentsMade = true;
}

bool BeamTracer::Step(const StepBatch& batch, int segmentCount,
                      const std::atomic<bool>& stopRequested) {
  // Each batch of lanes is stepped on its own, so parts give the same bits
  // as the whole.
  const int perPart = std::max(lanes, kTestsPerPart / std::max(segmentCount, 1) / lanes * lanes);
  const StepRuns runs{chunks.data(), runCount, nodeCount, useRunLanes ? &runLanes : nullptr};
  if (perPart >= batch.count) {
    StepPart(batch, segmentCount, runs);
    return true;
  }
  for (int at = 0; at < batch.count; at += perPart) {
    if (at > 0 && stopRequested.load()) return false;
    const StepBatch part{batch.cx + at,     batch.cy + at,   batch.dx + at,
                         batch.dy + at,     batch.skipped + at, std::min(perPart, batch.count - at),
                         batch.hitX + at,   batch.hitY + at, batch.hitSegment + at};
    StepPart(part, segmentCount, runs);
  }
  return true;
}

bool BeamTracer::Evaluate(std::span<const Point2> vertices, Point2 source, Point2 aim,
                          Point2 target, const std::atomic<bool>& stopRequested,
                          std::vector<RayRecord>& rayRecords, double& score) {
  score = 0;
  if (stopRequested.load()) {
    rayRecords.clear();
    return false;
  }
  MakeSegmentLines(vertices, segments);
  rayRecords.resize(kBeamRayCount);
  StartBeam(source, aim);

  MakeChunks();
  // Rays walking alone read the runs' own copies; the segments' are made
  // only for a ray that cannot (see StepPart).
  stepSegmentsMade = false;
  if (!useRunLanes) MakeStepSegments();
  const int segmentCount = static_cast<int>(segments.size());
  const StepBatch first{startCx.data(),         startCy.data(), startDx.data(),
                        startDy.data(),         startSkipped.data(), Padded(kBeamRayCount),
                        hitX.data(),            hitY.data(),    hitSegment.data()};
  if (!Step(first, segmentCount, stopRequested)) {
    rayRecords.clear();
    return false;
  }
  int activeCount = Advance<true>(first, startRay.data(), kBeamRayCount, 1, rayRecords);
  std::size_t pathLength = 2;  // of every ray still travelling
  while (activeCount > 0) {
    if (stopRequested.load()) {
      rayRecords.clear();
      return false;
    }
    const int padded = Padded(activeCount);
    PadWithLast(activeCount, padded, cx, cy, dx, dy, skipped);
    const StepBatch batch{cx.data(),   cy.data(),   dx.data(),         dy.data(), skipped.data(),
                          padded,      hitX.data(), hitY.data(),       hitSegment.data()};
    if (!Step(batch, segmentCount, stopRequested)) {
      rayRecords.clear();
      return false;
    }
    activeCount = Advance<false>(batch, rayOfSlot.data(), activeCount, pathLength, rayRecords);
    ++pathLength;
  }

  // Costs and their sum in ray order, as EvaluateBeam adds them. The line
  // of the last leg is taken last point first: coincident points then
  // measure the distance to the last point.
  const int padded = Padded(kBeamRayCount);
  const CostBatch costs{lastX.data(),     lastY.data(), previousX.data(),
                        previousY.data(), padded,       distance.data()};
  lanesOf->distances(target.x, target.y, costs);
  // Summed in a local: through the reference, every addition would wait for
  // a store and a load besides the addition before it.
  double sum = 0;
  for (int ray = 0; ray < kBeamRayCount; ++ray) {
    RayRecord& record = rayRecords[ray];
    const std::size_t n = record.path.size();
    if (n >= 3) {
      double cost = distance[ray];
      if (n >= 4) cost += kMultipleReflectionPenalty;
      record.hitFlag = 1;
      record.cost = cost;
      sum += cost;
    } else {
      record.hitFlag = 0;
      record.cost = 0.0;
      sum += kMissCost;
    }
  }
  score = sum;
  return true;
}

template <bool kFirst>
int BeamTracer::Advance(const StepBatch& step, const int* rayOf, int activeCount,
                        std::size_t pathLength, std::vector<RayRecord>& rayRecords) {
  // Each ray's hit (or escape) goes on its path; rays that end here leave
  // their last two points, and the others take the next free slot, starting
  // from their hits. A full path needs no further direction.
  const std::size_t length = pathLength + 1;
  const bool full = length >= static_cast<std::size_t>(kBeamReflectionLimit) + 2;
  int reflecting = 0;
  int uncommonCount = 0;
  for (int slot = 0; slot < activeCount; ++slot) {
    const int ray = rayOf[slot];
    const Point2 from{step.cx[slot], step.cy[slot]};
    RayPath& path = rayRecords[ray].path;
    if constexpr (kFirst) path.PlaceAhead(1, from);
    const int best = static_cast<int>(hitSegment[slot]);
    if (best < 0) {
      const Point2 escape{step.dx[slot], step.dy[slot]};
      path.ExtendTo(length, escape);
      Finished(ray, escape, from);
      continue;
    }
    const Point2 hit{hitX[slot], hitY[slot]};
    if (full) {
      path.ExtendTo(length, hit);
      Finished(ray, hit, from);
      continue;
    }
    path.PlaceAhead(length, hit);
    const int r = reflecting++;
    const SegmentLine& mirror = segments[best];
    rayOfSlot[r] = ray;
    cx[r] = hit.x;
    cy[r] = hit.y;
    skipped[r] = best;
    fromX[r] = from.x;
    fromY[r] = from.y;
    mirrorSlope[r] = mirror.slope;
    if (mirror.vertical || from.x == hit.x) uncommon[uncommonCount++] = r;
  }
  if (reflecting == 0) return 0;

  // The common case, a ray and a mirror neither of them vertical, in lanes
  // for the arithmetic before atan and after tan; every lane computes it, and
  // the uncommon rays are then reflected one by one.
  const int padded = Padded(reflecting);
  PadWithLast(reflecting, padded, fromX, fromY, cx, cy, mirrorSlope);
  const ReflectBatch batch{fromX.data(), fromY.data(), cx.data(),
                           cy.data(),    mirrorSlope.data(), padded};
  lanesOf->reflectionAngles(batch, rayAngle.data(), turnAngle.data());
  // tan(atan(mr) + 2 atan(t)), as ReflectRayWith takes it; the padding's
  // slopes come out unread. Rays side by side mostly meet the same segment
  // at the same angles, so the last pair (by bits) is looked at before the
  // memo.
  std::uint64_t lastRay = std::bit_cast<std::uint64_t>(rayAngle[0]);
  std::uint64_t lastTurn = std::bit_cast<std::uint64_t>(turnAngle[0]);
  double lastSlope = reflectedSlope(rayAngle[0], turnAngle[0]);
  for (int r = 0; r < reflecting; ++r) {
    const std::uint64_t ray = std::bit_cast<std::uint64_t>(rayAngle[r]);
    const std::uint64_t turn = std::bit_cast<std::uint64_t>(turnAngle[r]);
    if (ray != lastRay || turn != lastTurn) {
      lastSlope = reflectedSlope(rayAngle[r], turnAngle[r]);
      lastRay = ray;
      lastTurn = turn;
    }
    outgoingSlope[r] = lastSlope;
  }
  lanesOf->reflectedPoints(batch, outgoingSlope.data(), dx.data(), dy.data());
  ReflectedSlope& memo = reflectedSlope.function();
  for (int u = 0; u < uncommonCount; ++u) {
    const int r = uncommon[u];
    const SegmentLine& mirror = segments[static_cast<std::size_t>(skipped[r])];
    const Point2 direction = ReflectRayWith(
        mirror.a, mirror.b, mirror.slope, {fromX[r], fromY[r]}, {cx[r], cy[r]},
        [&memo](double x) { return memo.atan(x); }, [&memo](double x) { return memo.tan(x); });
    dx[r] = direction.x;
    dy[r] = direction.y;
  }
  return reflecting;
}

}  // namespace reflector
