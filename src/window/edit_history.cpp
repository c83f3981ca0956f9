#include "window/edit_history.h"

#include <QUndoCommand>
#include <QUndoStack>
#include <algorithm>
#include <utility>

namespace reflector {

namespace {

constexpr int kPointerStreamId = 1;

// Restarts that go on a stream of pointer restarts, rather than begin one.
bool ContinuesStream(RestartCause cause) {
  return cause == RestartCause::kPointer || cause == RestartCause::kTarget;
}

bool IsPointerCause(RestartCause cause) {
  return ContinuesStream(cause) || cause == RestartCause::kSource ||
         cause == RestartCause::kTargetPress || cause == RestartCause::kDrawing;
}

}  // namespace

// One step: the state on the other side of it. Undo and redo both swap it
// with the state the window is in.
class RunStep : public QUndoCommand {
 public:
  RunStep(EditHistory& history, const QString& text, EditState other, bool pointerStream)
      : QUndoCommand(text), history_(history), other_(std::move(other)), pointerStream_(pointerStream) {
    history_.steps_.push_back(this);
  }
  ~RunStep() override {
    auto& steps = history_.steps_;
    steps.erase(std::remove(steps.begin(), steps.end(), this), steps.end());
    if (history_.openStream_ == this) history_.openStream_ = nullptr;
  }

  int id() const override { return pointerStream_ ? kPointerStreamId : -1; }
  // Only RecordRestart pushes pointer steps, and it never pushes one that
  // joins a stream: a step that reaches here begins a new one.
  bool mergeWith(const QUndoCommand*) override { return false; }

  void undo() override { history_.Swap(other_); }
  void redo() override {
    // Pushed after the fact: the restart has happened already.
    if (pushed_) {
      pushed_ = false;
      return;
    }
    history_.Swap(other_);
  }

  std::size_t Bytes() const { return other_.run.Bytes(); }
  // Lighter, at a cost: first the rows and rewind record, then the run.
  bool Shed() {
    if (other_.run.run && (!other_.run.run->start.record.history.empty() ||
                           other_.run.run->start.record.rewind.Bytes() > 0)) {
      other_.run.DropHistory();
      return true;
    }
    if (other_.run.run) {
      other_.run.run.reset();
      return true;
    }
    return false;
  }

 private:
  EditHistory& history_;
  EditState other_;
  bool pointerStream_;
  bool pushed_ = true;
};

EditHistory::EditHistory(Capture capture, Restore restore, QObject* parent)
    : QObject(parent), stack_(new QUndoStack(this)), capture_(std::move(capture)), restore_(std::move(restore)) {
  stack_->setUndoLimit(kStepLimit);
  // Any undo or redo ends a stream: the next pointer restart is a new step.
  connect(stack_, &QUndoStack::indexChanged, this, [this] { openStream_ = nullptr; });
}

EditHistory::~EditHistory() {
  // The steps unregister themselves as the stack deletes them; nobody is
  // told, since whoever listens may be half destroyed already.
  stack_->blockSignals(true);
  stack_->clear();
}

QString EditHistory::NameOf(RestartCause cause) {
  switch (cause) {
    case RestartCause::kRestart: return tr("Restart");
    case RestartCause::kPointer: return tr("Aim");
    case RestartCause::kSource: return tr("Move Source");
    case RestartCause::kTargetPress:
    case RestartCause::kTarget: return tr("Move Target");
    case RestartCause::kDrawing: return tr("Draw Mirror");
    case RestartCause::kOpened: return tr("Open Checkpoint");
  }
  return tr("Restart");
}

void EditHistory::RecordRestart(RestartCause cause) {
  if (inNamedAction_) {
    if (namedStepTaken_) return;
    namedStepTaken_ = true;
  } else if (ContinuesStream(cause) && openStream_) {
    // The run this restart throws away came after the stream began: the
    // step keeps the one from before it.
    return;
  }
  const bool pointer = !inNamedAction_ && IsPointerCause(cause);
  auto* step = new RunStep(*this, inNamedAction_ ? pendingName_ : NameOf(cause), capture_(), pointer);
  stack_->push(step);  // may delete the oldest step, beyond the limit
  openStream_ = pointer ? step : nullptr;
  Rebalance();
}

void EditHistory::Named(const QString& name, const std::function<void()>& action) {
  const bool outer = !inNamedAction_;
  if (outer) {
    inNamedAction_ = true;
    namedStepTaken_ = false;
    pendingName_ = name;
  }
  action();
  if (outer) inNamedAction_ = false;
}

void EditHistory::Swap(EditState& other) {
  EditState now = capture_();
  restore_(std::move(other));
  other = std::move(now);
  Rebalance();
}

std::size_t EditHistory::Bytes() const {
  std::size_t bytes = 0;
  for (const RunStep* step : steps_) bytes += step->Bytes();
  return bytes;
}

void EditHistory::Rebalance() {
  // Oldest first: what is furthest back is least likely to be wanted.
  for (RunStep* step : steps_) {
    while (Bytes() > byteBudget_ && step->Shed()) {
    }
    if (Bytes() <= byteBudget_) return;
  }
}

}  // namespace reflector
