#pragma once

#include <QObject>
#include <QString>
#include <cstddef>
#include <functional>
#include <vector>

#include "scene/run_memento.h"
#include "scene/scene_description.h"
#include "scene/scene_state.h"

class QUndoStack;

namespace reflector {

// What one undo step swaps: the run with its scene, and the file the window
// names for it.
struct EditState {
  RunMemento run;
  QString file;
  bool fileIsCheckpoint = false;
  SceneDescription savedScene;  // what counts as unsaved against it
};

class RunStep;

// The window's undo history, on a QUndoStack. Every restart that throws a run
// away becomes a step that brings the run back; a stream of pointer restarts
// with nothing else between them is one step, and so is an action (an edit,
// an opened file) together with the restart it causes.
//
//   EditHistory history(capture, restore);
//   scene.beforeRestart_ = [&](RestartCause cause) { history.RecordRestart(cause); };
//   history.Named(tr("Open Scene"), [&] { scene.LoadScene(description, seed); });
//
// Bounded: the newest kStepLimit steps, and past kByteBudget bytes the oldest
// steps keep only what their runs go on from (their plot rows and rewind
// records go), then only their scenes and seeds.
class EditHistory : public QObject {
  Q_OBJECT

 public:
  static constexpr int kStepLimit = 50;
  static constexpr std::size_t kByteBudget = std::size_t{256} << 20;

  using Capture = std::function<EditState()>;
  using Restore = std::function<void(EditState)>;
  EditHistory(Capture capture, Restore restore, QObject* parent = nullptr);
  ~EditHistory() override;

  QUndoStack* stack() const { return stack_; }

  // The scene is about to throw its run away.
  void RecordRestart(RestartCause cause);
  // The restarts action makes are one step, named name (the first restart's
  // run is the one it brings back).
  void Named(const QString& name, const std::function<void()>& action);
  // What the steps hold, roughly.
  std::size_t Bytes() const;
  // kByteBudget unless set (tests).
  void SetByteBudget(std::size_t bytes) { byteBudget_ = bytes; }

  static QString NameOf(RestartCause cause);

 private:
  friend class RunStep;
  void Swap(EditState& other);
  void Rebalance();

  QUndoStack* stack_;
  Capture capture_;
  Restore restore_;
  std::vector<RunStep*> steps_;  // alive, oldest first
  RunStep* openStream_ = nullptr;  // the pointer step later pointer restarts join
  std::size_t byteBudget_ = kByteBudget;
  QString pendingName_;
  bool inNamedAction_ = false;
  bool namedStepTaken_ = false;
};

}  // namespace reflector
