#pragma once

#include "optimizer/population.h"
#include "optimizer/scene_snapshot.h"

namespace reflector {

// The steps of one generation, on a population held by whoever runs them.

// Appends ten candidates, each with its own copy of the snapshot's vertices,
// no ray records and a score of 0. bestIndex is left as it is.
void FillPopulation(Population& population, const SceneSnapshot& snapshot);

// Jitters every vertex of every candidate by RandomUniform(-0.4, 0.4) in x, then
// in y: candidate 0's vertices first, two draws per vertex.
void MutatePopulation(Population& population);

// One selection step: the worst candidate becomes a copy of the best one, and
// bestIndex names the best. Ties go to the lowest index in both roles. A score
// that is not a number counts as worse than any number, so it never becomes the
// best while a number is there.
void ReplaceWorstWithBest(Population& population);

}  // namespace reflector
