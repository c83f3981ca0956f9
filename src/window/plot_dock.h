#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

#include "window/convergence_plot.h"

class QMouseEvent;

namespace reflector {

// The live convergence plot beside the canvas. The owner hands it decimated
// plot data at the tick; the plot only paints it. Pressing or dragging on it
// picks a generation to show in the canvas: a drag returns to live on
// release, a click stays until Escape.
class PlotWidget : public QWidget {
  Q_OBJECT

 public:
  explicit PlotWidget(QWidget* parent = nullptr);

  QSize sizeHint() const override { return {440, 300}; }
  QSize minimumSizeHint() const override { return {220, 180}; }

  // The columns the plot area has now: what the data should be decimated to.
  int PlotColumns() const;
  void SetData(PlotData data);
  const PlotData& data() const { return data_; }
  // The generation the canvas shows instead of live, marked on the plot.
  void SetMarker(std::optional<std::uint32_t> generation);

  // The title above the plot: the scene and the seed.
  void SetTitle(const QString& title);
  const QString& title() const { return title_; }
  // The recorded scores of a generation, for the read-out under the pointer.
  std::function<std::optional<GenerationScores>(std::uint32_t generation)> rowAt_;
  // The generation the pointer hovers over, if any.
  std::optional<std::uint32_t> hovered() const { return hovered_; }

  // Escape during a drag: the rest of it picks nothing.
  void CancelPick() { pressed_ = false; }

  // The generation under x (widget pixels), nearest recorded one.
  std::optional<std::uint32_t> GenerationAt(int x) const;
  // Where that generation is drawn, in widget pixels.
  int XOfGeneration(double generation) const;

 signals:
  void generationPicked(std::uint32_t generation);
  // A drag ended: the owner returns to live.
  void dragEnded();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // Generation, best, mean and best ever where the pointer is, in a box on
  // the side away from it.
  void PaintReadOut(QPainter& painter);

  QRect Area() const;
  void Pick(int x);

  PlotData data_;
  std::optional<std::uint32_t> marker_;
  std::optional<std::uint32_t> hovered_;
  int hoverX_ = 0;
  QString title_;
  int pressX_ = 0;
  bool pressed_ = false;
  bool dragged_ = false;
};

}  // namespace reflector
