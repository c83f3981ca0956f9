#pragma once

#include "geometry/random.h"
#include "optimizer/population.h"
#include "optimizer/scene_snapshot.h"
#include "optimizer/survivors.h"

namespace reflector {

// The steps of one generation, on a population held by whoever runs them.

// Appends ten candidates, each with its own copy of the snapshot's vertices,
// no ray records and a score of 0. bestIndex is left as it is.
void FillPopulation(Population& population, const SceneSnapshot& snapshot);

// Jitters every vertex of every candidate by RandomUniform(-0.4, 0.4) in x, then
// in y: candidate 0's vertices first, two draws per vertex. Draws from the
// process-wide generator, or from the one given.
void MutatePopulation(Population& population);
void MutatePopulation(Population& population, RandomGenerator& generator);
// One candidate's part of it, from the draw its vertices start at.
void MutateCandidate(Candidate& candidate, RandomGenerator& generator);

// One selection step: the worst candidate becomes a copy of the best one, and
// bestIndex names the best. Ties go to the lowest index in both roles. A score
// that is not a number counts as worse than any number, so it never becomes the
// best while a number is there.
void ReplaceWorstWithBest(Population& population);

// A generation's selection: ReplaceWorstWithBest rounds times, with the same
// vertices, scores and bestIndex, but without copying rays that nobody
// reads. Every candidate is traced again in the next generation, and until
// then only the best's rays are drawn; so a copy takes the rays of the
// candidate it copies only if it is named best at the end. The other copies
// keep the rays of their last evaluation, stale until they are traced
// again (writing anything over them costs as much as the copy). Populations
// of more than ten are copied whole.
// With survivorsOut, a population of exactly ten also says which candidate
// each one's vertices came from (a rewind redoes the generation with it).
void SelectSurvivors(Population& population, int rounds, Survivors* survivorsOut = nullptr);

}  // namespace reflector
