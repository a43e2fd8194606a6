#include "app/gui/preview_window.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "dataset/os_locale.h"
#include "dataset/utils.h"
#include "formats/image/jpeg_scaled.h"

namespace clipra {

namespace {

constexpr double kGrip = 5;   // pixels around an edge that grab it
constexpr double kClick = 3;  // a left drag shorter than this draws nothing
constexpr double kWheelStep = 1.25;

QString Number(double v) {
  return QString::fromStdString(FormatFixed(v, 15, 3, LocaleDecimalSeparator()));
}

}  // namespace

MapRect OutputFootprint(const ExtractOptions& corners, double cell_size) {
  MapRect r;
  int32_t width = 0, lines = 0;
  std::string error;
  if (!OutputSize(corners, cell_size, width, lines, error)) return r;
  r.valid = true;
  r.left = corners.TopLeftX - cell_size / 2;
  r.right = corners.TopLeftX + (width - 0.5) * cell_size;
  r.top = corners.TopLeftY + cell_size / 2;
  r.bottom = corners.TopLeftY - (lines - 0.5) * cell_size;
  return r;
}

PreviewWorker::PreviewWorker(Deliver deliver)
    : deliver_(std::move(deliver)), thread_([this] { Loop(); }) {}

PreviewWorker::~PreviewWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stopping_ = true;
  wake_.notify_one();
  thread_.join();
}

void PreviewWorker::Request(const std::string& file_name, const SourceGrid& grid,
                            const PreviewView& view, uint64_t generation) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    file_name_ = file_name;
    grid_ = grid;
    view_ = view;
    generation_ = generation;
    pending_ = true;
  }
  // The request being served sees this between two lines and gives up.
  latest_ = generation;
  wake_.notify_one();
}

void PreviewWorker::Loop() {
  for (;;) {
    std::string file_name;
    SourceGrid grid;
    PreviewView view;
    uint64_t generation = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || pending_; });
      if (stop_) return;
      pending_ = false;
      file_name = file_name_;
      grid = grid_;
      view = view_;
      generation = generation_;
    }
    Serve(file_name, grid, view, generation);
  }
}

void PreviewWorker::Serve(const std::string& file_name, const SourceGrid& grid,
                          const PreviewView& view, uint64_t generation) {
  if (file_name != open_name_) {
    source_.reset();
    reduced_.reset();
    reduced_numerator_ = 0;
    open_error_.clear();
    open_name_ = file_name;
  }
  RasterReader* reader = nullptr;
  if (grid.jpeg && view.unit_x > 0 && view.unit_y > 0) {
    // As many reduced cells as the view shows of the source, at least.
    const double across = std::ceil(grid.width * grid.cell_x / view.unit_x);
    const double down = std::ceil(grid.lines * grid.cell_y / view.unit_y);
    const uint32_t min_width = across < grid.width ? static_cast<uint32_t>(across) : grid.width;
    const uint32_t min_lines = down < grid.lines ? static_cast<uint32_t>(down) : grid.lines;
    const int n = JpegScaleNumerator(grid.width, grid.lines, min_width, min_lines);
    if (n < 8 && !source_) {
      if (!reduced_ || reduced_numerator_ < n) {
        std::string error;
        reduced_ = OpenJpegScaled(file_name, min_width, min_lines, error);
        reduced_numerator_ = reduced_ ? n : 0;
      }
      reader = reduced_.get();
    }
  }
  if (!reader && open_error_.empty()) {
    if (!source_) {
      source_ = std::make_unique<Source>();
      if (!source_->Open(file_name)) {
        open_error_ = source_->GetErrorText();
        if (open_error_.empty()) open_error_ = "Cannot open " + file_name;
        source_.reset();
      }
    }
    if (source_) reader = source_->GetReader();
  }
  if (latest_ != generation || stopping_) return;
  if (!reader) {
    deliver_(generation, view, QImage(), open_error_);
    return;
  }
  PreviewSamples samples;
  const bool done = SamplePreview(
      *reader, view, samples, [this, generation] { return stopping_ || latest_ != generation; });
  if (!done) return;
  const std::vector<uint32_t> argb = RenderPreview(samples);
  QImage image(static_cast<int>(view.width), static_cast<int>(view.height), QImage::Format_RGB32);
  for (uint32_t y = 0; y < view.height; ++y)
    std::memcpy(image.scanLine(static_cast<int>(y)), argb.data() + size_t{y} * view.width,
                size_t{view.width} * 4);
  deliver_(generation, view, std::move(image), std::string());
}

PreviewCanvas::PreviewCanvas(QWidget* parent) : QWidget(parent) {
  setObjectName("PreviewCanvas");
  setMouseTracking(true);
  setMinimumSize(160, 120);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);
  worker_ = std::make_unique<PreviewWorker>(
      [this](uint64_t generation, PreviewView view, QImage image, std::string error) {
        // Queued: when the canvas is gone first, the call is dropped.
        QMetaObject::invokeMethod(
            this,
            [this, generation, view, image = std::move(image), error = std::move(error)] {
              Delivered(generation, view, image, error);
            },
            Qt::QueuedConnection);
      });
}

// The worker is stopped and joined before the members it posts to go.
PreviewCanvas::~PreviewCanvas() {
  worker_.reset();
}

void PreviewCanvas::SetSource(const std::string& file_name, const SourceGrid& grid) {
  file_name_ = file_name;
  grid_ = grid;
  picture_ = QImage();
  error_.clear();
  Fit();
  update();
}

void PreviewCanvas::SetRectangle(const ExtractOptions& corners, bool valid) {
  corners_ = corners;
  has_rectangle_ = valid;
  ShowStatus(last_mouse_, mouse_over_);
  update();
}

QPointF PreviewCanvas::WidgetToMap(QPointF pixel) const {
  return {static_cast<double>(left_ + static_cast<long double>(pixel.x()) * unit_),
          static_cast<double>(top_ - static_cast<long double>(pixel.y()) * unit_)};
}

QPointF PreviewCanvas::MapToWidget(QPointF map) const {
  return {static_cast<double>((static_cast<long double>(map.x()) - left_) / unit_),
          static_cast<double>((static_cast<long double>(top_) - map.y()) / unit_)};
}

void PreviewCanvas::Fit() {
  fitted_ = true;
  if (!grid_.valid || width() <= 0 || height() <= 0) return;
  const double across = grid_.Right() - grid_.Left();
  const double down = grid_.Top() - grid_.Bottom();
  unit_ = std::max(across / width(), down / height());
  if (!std::isfinite(unit_) || unit_ <= 0) unit_ = 1;
  left_ = (grid_.Left() + grid_.Right()) / 2 - width() * unit_ / 2;
  top_ = (grid_.Top() + grid_.Bottom()) / 2 + height() * unit_ / 2;
  RequestPicture();
  update();
}

void PreviewCanvas::ZoomAt(QPointF pixel, double factor) {
  if (!(factor > 0)) return;
  const QPointF map = WidgetToMap(pixel);
  const double unit = unit_ / factor;
  if (!std::isfinite(unit) || unit <= 0) return;
  unit_ = unit;
  left_ = map.x() - pixel.x() * unit_;
  top_ = map.y() + pixel.y() * unit_;
  fitted_ = false;
  RequestPicture();
  update();
}

void PreviewCanvas::PanBy(QPointF pixels) {
  left_ -= pixels.x() * unit_;
  top_ += pixels.y() * unit_;
  fitted_ = false;
  RequestPicture();
  update();
}

QPointF PreviewCanvas::Snap(QPointF map) const {
  if (!grid_.valid) return map;
  const double x =
      grid_.centre_x + std::nearbyint((map.x() - grid_.centre_x) / grid_.cell_x) * grid_.cell_x;
  const double y =
      grid_.centre_y - std::nearbyint((grid_.centre_y - map.y()) / grid_.cell_y) * grid_.cell_y;
  return {x, y};
}

void PreviewCanvas::RequestPicture() {
  if (request_queued_) return;
  request_queued_ = true;
  // Every change of one event (a wheel turn, a resize) becomes one request.
  QTimer::singleShot(0, this, [this] {
    request_queued_ = false;
    if (!grid_.valid || width() <= 0 || height() <= 0) return;
    PreviewView view;
    view.left = left_;
    view.top = top_;
    view.unit_x = unit_;
    view.unit_y = unit_;
    view.width = static_cast<uint32_t>(width());
    view.height = static_cast<uint32_t>(height());
    worker_->Request(file_name_, grid_, view, ++generation_);
  });
}

void PreviewCanvas::Delivered(uint64_t generation, PreviewView view, QImage image,
                              std::string error) {
  if (generation != generation_) return;
  picture_ = std::move(image);
  picture_view_ = view;
  error_ = std::move(error);
  update();
  emit PictureShown();
}

void PreviewCanvas::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(0x5a, 0x5a, 0x5a));
  if (!picture_.isNull()) {
    // Until the new picture arrives the last one stands in, moved and scaled.
    const QPointF a = MapToWidget({picture_view_.left, picture_view_.top});
    const QPointF b =
        MapToWidget({picture_view_.left + picture_view_.width * picture_view_.unit_x,
                     picture_view_.top - picture_view_.height * picture_view_.unit_y});
    p.drawImage(QRectF(a, b), picture_);
  }
  p.setPen(Qt::white);
  if (!error_.empty())
    p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
               QString::fromStdString(error_));
  else if (!grid_.valid)
    p.drawText(rect(), Qt::AlignCenter, tr("No source"));
  if (!has_rectangle_ || !grid_.valid) return;
  const MapRect foot = OutputFootprint(corners_, grid_.cell_x);
  if (!foot.valid) return;
  const QRectF r =
      QRectF(MapToWidget({foot.left, foot.top}), MapToWidget({foot.right, foot.bottom}))
          .normalized();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0, 0, 0, 160), 3));
  p.drawRect(r);
  p.setPen(QPen(QColor(255, 214, 0), 1));
  p.drawRect(r);
  p.setBrush(QColor(255, 214, 0));
  p.setPen(QPen(Qt::black, 1));
  for (const QPointF& c : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()})
    p.drawRect(QRectF(c - QPointF(3, 3), QSizeF(6, 6)));
}

void PreviewCanvas::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (fitted_)
    Fit();
  else
    RequestPicture();
}

void PreviewCanvas::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps != 0) ZoomAt(event->position(), std::pow(kWheelStep, steps));
  event->accept();
}

int PreviewCanvas::HitTest(QPointF pixel) const {
  if (!has_rectangle_ || !grid_.valid) return 0;
  const MapRect foot = OutputFootprint(corners_, grid_.cell_x);
  if (!foot.valid) return 0;
  const QRectF r =
      QRectF(MapToWidget({foot.left, foot.top}), MapToWidget({foot.right, foot.bottom}))
          .normalized();
  if (!r.adjusted(-kGrip, -kGrip, kGrip, kGrip).contains(pixel)) return 0;
  int edges = 0;
  if (std::abs(pixel.x() - r.left()) <= kGrip)
    edges |= kLeft;
  else if (std::abs(pixel.x() - r.right()) <= kGrip)
    edges |= kRight;
  if (std::abs(pixel.y() - r.top()) <= kGrip)
    edges |= kTop;
  else if (std::abs(pixel.y() - r.bottom()) <= kGrip)
    edges |= kBottom;
  if (edges) return edges;
  return r.contains(pixel) ? kInside : 0;
}

void PreviewCanvas::UpdateCursor(QPointF pixel) {
  if (panning_) return;
  const int hit = drag_ != 0 ? drag_ : HitTest(pixel);
  Qt::CursorShape shape = Qt::CrossCursor;
  if (hit == kInside)
    shape = Qt::SizeAllCursor;
  else if (hit == (kLeft | kTop) || hit == (kRight | kBottom))
    shape = Qt::SizeFDiagCursor;
  else if (hit == (kRight | kTop) || hit == (kLeft | kBottom))
    shape = Qt::SizeBDiagCursor;
  else if (hit == kLeft || hit == kRight)
    shape = Qt::SizeHorCursor;
  else if (hit == kTop || hit == kBottom)
    shape = Qt::SizeVerCursor;
  setCursor(shape);
}

void PreviewCanvas::mousePressEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
    panning_ = true;
    pan_last_ = pos;
    setCursor(Qt::ClosedHandCursor);
    return;
  }
  if (event->button() != Qt::LeftButton || !grid_.valid) return;
  const int hit = HitTest(pos);
  drag_ = hit != 0 ? hit : -1;
  drag_moved_ = false;
  drag_start_ = WidgetToMap(pos);
  last_mouse_ = pos;
  drag_corners_ = corners_;
  if (hit != 0 &&
      (corners_.TopLeftX > corners_.BotRightX || corners_.TopLeftY < corners_.BotRightY)) {
    // Corners typed the other way round: the job still starts at the top-left
    // box and goes right and down, so moves and resizes start from the cells
    // the outline shows.
    const MapRect foot = OutputFootprint(corners_, grid_.cell_x);
    const double half = grid_.cell_x / 2;
    drag_corners_.TopLeftX = foot.left + half;
    drag_corners_.BotRightX = foot.right - half;
    drag_corners_.TopLeftY = foot.top - half;
    drag_corners_.BotRightY = foot.bottom + half;
  }
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent* event) {
  const QPointF pos = event->position();
  mouse_over_ = true;
  if (panning_) {
    PanBy(pos - pan_last_);
    pan_last_ = pos;
  } else if (drag_ != 0) {
    const QPointF at = WidgetToMap(pos);
    ExtractOptions c = drag_ == -1 ? corners_ : drag_corners_;
    if (drag_ == -1) {
      const QPointF start_pixel = MapToWidget(drag_start_);
      // A click, or a hand's tremor, leaves the rectangle as it was.
      if (!drag_moved_ && std::hypot(pos.x() - start_pixel.x(), pos.y() - start_pixel.y()) < kClick)
        return;
      drag_moved_ = true;
      const QPointF a = Snap(drag_start_);
      const QPointF b = Snap(at);
      c.TopLeftX = std::min(a.x(), b.x());
      c.BotRightX = std::max(a.x(), b.x());
      c.TopLeftY = std::max(a.y(), b.y());
      c.BotRightY = std::min(a.y(), b.y());
    } else if (drag_ == kInside) {
      const QPointF top_left = Snap({drag_corners_.TopLeftX + (at.x() - drag_start_.x()),
                                     drag_corners_.TopLeftY + (at.y() - drag_start_.y())});
      c.TopLeftX = top_left.x();
      c.TopLeftY = top_left.y();
      c.BotRightX = top_left.x() + (drag_corners_.BotRightX - drag_corners_.TopLeftX);
      c.BotRightY = top_left.y() + (drag_corners_.BotRightY - drag_corners_.TopLeftY);
    } else {
      const QPointF s = Snap(at);
      auto pair = [](double fixed, double moving, double& low, double& high) {
        low = std::min(fixed, moving);
        high = std::max(fixed, moving);
      };
      if (drag_ & kLeft) pair(drag_corners_.BotRightX, s.x(), c.TopLeftX, c.BotRightX);
      if (drag_ & kRight) pair(drag_corners_.TopLeftX, s.x(), c.TopLeftX, c.BotRightX);
      if (drag_ & kTop) pair(drag_corners_.BotRightY, s.y(), c.BotRightY, c.TopLeftY);
      if (drag_ & kBottom) pair(drag_corners_.TopLeftY, s.y(), c.BotRightY, c.TopLeftY);
    }
    corners_ = c;
    has_rectangle_ = true;
    update();
    emit RectangleChanged(corners_);
  }
  last_mouse_ = pos;
  UpdateCursor(pos);
  ShowStatus(pos, true);
}

void PreviewCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
    panning_ = false;
  } else if (event->button() == Qt::LeftButton) {
    drag_ = 0;
  }
  UpdateCursor(event->position());
}

void PreviewCanvas::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  mouse_over_ = false;
  ShowStatus(last_mouse_, false);
}

void PreviewCanvas::ShowStatus(QPointF pixel, bool over) {
  QString text;
  if (over && grid_.valid) {
    const QPointF map = WidgetToMap(pixel);
    text = "X " + Number(map.x()) + "   Y " + Number(map.y());
  }
  if (has_rectangle_ && grid_.valid) {
    int32_t width = 0, lines = 0;
    std::string error;
    if (!text.isEmpty()) text += "   ";
    if (OutputSize(corners_, grid_.cell_x, width, lines, error))
      text += tr("Output %1 x %2 cells").arg(width).arg(lines);
    else
      text += QString::fromStdString(error);
  }
  if (text == status_) return;
  status_ = text;
  emit StatusChanged(status_);
}

PreviewWindow::PreviewWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("PreviewWindow");
  setWindowTitle(tr("Preview"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  canvas_ = new PreviewCanvas;
  status_ = new QLabel;
  status_->setObjectName("PreviewStatus");
  status_->setTextFormat(Qt::PlainText);
  status_->setContentsMargins(6, 2, 6, 2);
  layout->addWidget(canvas_, 1);
  layout->addWidget(status_);
  connect(canvas_, &PreviewCanvas::StatusChanged, status_, &QLabel::setText);
  resize(720, 540);
}

}  // namespace clipra
