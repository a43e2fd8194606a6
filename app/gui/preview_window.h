// The preview: the source at screen resolution in a window of its own, with
// the rectangle drawn over it. The left button draws, moves and resizes the
// rectangle, the wheel zooms about the cursor, and the right or middle
// button pans. Sampling runs on a worker; a newer view cancels an older one.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/core/job.h"
#include "dataset/preview_sampler.h"

namespace clipra {

// What the preview needs to know of a source: its grid on the map.
struct SourceGrid {
  bool valid = false;
  uint32_t width = 0;
  uint32_t lines = 0;
  double cell_x = 1;    // map units per cell across
  double cell_y = 1;    // and down
  double centre_x = 0;  // map X of the centre of cell column 0
  double centre_y = 0;  // map Y of the centre of cell line 0
  bool jpeg = false;    // a JPEG can be decoded at a reduced scale
  // The outer edges of the cells.
  double Left() const { return centre_x - cell_x / 2; }
  double Top() const { return centre_y + cell_y / 2; }
  double Right() const { return Left() + cell_x * width; }
  double Bottom() const { return Top() - cell_y * lines; }
};

// A rectangle of map space by its edges, north up.
struct MapRect {
  bool valid = false;
  double left = 0, top = 0, right = 0, bottom = 0;
};

// The map rectangle the job's output covers: its cells are squares of the
// source's cell width, from the centre (TopLeftX, TopLeftY) rightwards and
// down, as many as OutputSize gives. Not valid when there is no output.
MapRect OutputFootprint(const ExtractOptions& corners, double cell_size);

// Samples on a thread of its own; results are posted to `receiver`.
class PreviewWorker {
 public:
  using Deliver =
      std::function<void(uint64_t generation, PreviewView view, QImage image, std::string error)>;
  explicit PreviewWorker(Deliver deliver);
  ~PreviewWorker();
  PreviewWorker(const PreviewWorker&) = delete;
  PreviewWorker& operator=(const PreviewWorker&) = delete;

  // Replaces any request not yet finished.
  void Request(const std::string& file_name, const SourceGrid& grid, const PreviewView& view,
               uint64_t generation);

 private:
  void Loop();
  void Serve(const std::string& file_name, const SourceGrid& grid, const PreviewView& view,
             uint64_t generation);

  Deliver deliver_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool pending_ = false;
  std::string file_name_;
  SourceGrid grid_;
  PreviewView view_;
  uint64_t generation_ = 0;
  std::atomic<uint64_t> latest_{0};
  std::atomic<bool> stopping_{false};
  // Owned by the worker thread.
  std::string open_name_;
  std::unique_ptr<Source> source_;
  std::string open_error_;
  std::unique_ptr<RasterReader> reduced_;
  int reduced_numerator_ = 0;
  std::thread thread_;
};

class PreviewCanvas : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewCanvas(QWidget* parent = nullptr);
  ~PreviewCanvas() override;

  void SetSource(const std::string& file_name, const SourceGrid& grid);
  // The rectangle as the corner boxes hold it; `valid` false hides it.
  void SetRectangle(const ExtractOptions& corners, bool valid);
  const ExtractOptions& Rectangle() const { return corners_; }
  bool HasRectangle() const { return has_rectangle_; }

  // Widget pixels (0, 0 at the top-left corner of the top-left pixel) and
  // map coordinates: pixels are square in map units.
  QPointF WidgetToMap(QPointF pixel) const;
  QPointF MapToWidget(QPointF map) const;
  double UnitsPerPixel() const { return unit_; }
  // The whole source, centred.
  void Fit();
  // Zooms by `factor` (> 1 zooms in) keeping the map point under `pixel` still.
  void ZoomAt(QPointF pixel, double factor);
  void PanBy(QPointF pixels);
  // A map point moved to the nearest cell centre of the source.
  QPointF Snap(QPointF map) const;
  // The last sampled picture and the view it was sampled for.
  const QImage& Picture() const { return picture_; }
  const PreviewView& PictureView() const { return picture_view_; }
  QString StatusText() const { return status_; }

 signals:
  // The user drew, moved or resized the rectangle.
  void RectangleChanged(const ExtractOptions& corners);
  void StatusChanged(const QString& text);
  // A sampled picture has arrived.
  void PictureShown();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  enum Edge { kLeft = 1, kRight = 2, kTop = 4, kBottom = 8, kInside = 16 };
  int HitTest(QPointF pixel) const;
  void UpdateCursor(QPointF pixel);
  void RequestPicture();
  void ShowStatus(QPointF pixel, bool over);
  void Delivered(uint64_t generation, PreviewView view, QImage image, std::string error);

  std::string file_name_;
  SourceGrid grid_;
  double left_ = 0;  // map X of the widget's left edge
  double top_ = 0;   // map Y of its top edge
  double unit_ = 1;  // map units per pixel
  bool fitted_ = true;
  ExtractOptions corners_;
  bool has_rectangle_ = false;
  QImage picture_;
  PreviewView picture_view_;
  std::string error_;
  uint64_t generation_ = 0;
  bool request_queued_ = false;
  // A left-button drag: what it does, where it began, and the corners then.
  int drag_ = 0;  // 0 none, kInside move, edges resize, -1 draw
  bool drag_moved_ = false;
  QPointF drag_start_;
  ExtractOptions drag_corners_;
  // A right- or middle-button pan.
  bool panning_ = false;
  QPointF pan_last_;
  QPointF last_mouse_;
  bool mouse_over_ = false;
  QString status_;
  std::unique_ptr<PreviewWorker> worker_;
};

// The separate, resizable window around the canvas, with a status line.
class PreviewWindow : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewWindow(QWidget* parent = nullptr);
  PreviewCanvas* Canvas() const { return canvas_; }
  QLabel* StatusLine() const { return status_; }

 private:
  PreviewCanvas* canvas_;
  QLabel* status_;
};

}  // namespace clipra
