#pragma once

#include <QWidget>
#include <cstdint>
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

 private:
  QRect Area() const;
  void Pick(int x);

  PlotData data_;
  std::optional<std::uint32_t> marker_;
  int pressX_ = 0;
  bool pressed_ = false;
  bool dragged_ = false;
};

}  // namespace reflector
