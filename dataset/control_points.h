// Ground control points: single points, their two text line syntaxes, and an
// owning list that reads and writes ".gcp" files and two survey tables.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace clipra {

// Receives the text of an error message the user should see. The core has no
// windows; the application installs a hook that shows a message box.
using MessageHook = std::function<void(const std::string&)>;
// Replaces the process-wide hook; an empty hook restores the default, which
// writes the text to standard error.
void SetErrorMessageHook(MessageHook hook);

class ControlPoint {
 public:
  // A blank point: no name, inactive, all values 0.
  ControlPoint() = default;
  // A copy of the source's name, active flag and five values; Flag2 is not
  // copied. A null source gives a blank point.
  explicit ControlPoint(const ControlPoint* source);
  virtual ~ControlPoint() = default;

  // ER Mapper syntax: name, active, flag2, then the five values.
  static std::unique_ptr<ControlPoint> CreateFromErsLine(const std::string& line);
  // Own syntax: name, active, then the five values.
  static std::unique_ptr<ControlPoint> CreateFromLine(const std::string& line);

  virtual std::string GetName() const { return Name; }
  virtual bool GetActive() const { return Active; }
  virtual bool GetFlag2() const { return Flag2; }
  virtual double GetCellX() const { return CellX; }
  virtual double GetCellY() const { return CellY; }
  virtual double GetMapX() const { return MapX; }
  virtual double GetMapY() const { return MapY; }
  virtual double GetMapZ() const { return MapZ; }
  virtual void SetName(const std::string& value) { Name = value; }
  virtual void SetActive(bool value) { Active = value; }
  virtual void SetFlag2(bool value) { Flag2 = value; }
  virtual void SetCellX(double value) { CellX = value; }
  virtual void SetCellY(double value) { CellY = value; }
  virtual void SetMapX(double value) { MapX = value; }
  virtual void SetMapY(double value) { MapY = value; }
  virtual void SetMapZ(double value) { MapZ = value; }
  // Table columns: 0 name, 1 "Yes"/"No", 2 to 6 the values 1 to 5 in general
  // format. Other indexes give an empty text, or are ignored.
  virtual std::string GetFieldText(int index) const;
  virtual void SetFieldText(int index, const std::string& text);

  // Value 1 CellX, 2 CellY, 3 MapX, 4 MapY, 5 MapZ; others read 0 and are ignored.
  double GetValue(int value_no) const;
  void SetValue(int value_no, double value);

  // The own line syntax with single blanks, "" for an empty name, and each
  // value fixed with 3 decimals after rounding to 10 significant digits.
  std::string ToLine() const;

  std::string Name;
  bool Active = false;
  bool Flag2 = false;
  double CellX = 0;
  double CellY = 0;
  double MapX = 0;
  double MapY = 0;
  double MapZ = 0;
};

class ControlPointList {
 public:
  ControlPointList() = default;
  virtual ~ControlPointList() = default;
  ControlPointList(const ControlPointList&) = delete;
  ControlPointList& operator=(const ControlPointList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Null when the index is out of range.
  ControlPoint* Point(int index);
  const ControlPoint* Point(int index) const;

  // Frees every point and resets the extent.
  virtual void Clear();
  // Appends a copy of `source`, or a blank point when it is null.
  virtual void AddPoint(const ControlPoint* source);
  // Reads a ".gcp" file. False for an empty name; an LineReaderError from the
  // line reader escapes.
  virtual bool LoadFromFile(const std::string& file_name);
  // Reads lines of name, MapX, MapY, MapZ. Leaves at least one point. False
  // for an empty name; an LineReaderError from the line reader escapes.
  virtual bool ImportMapPoints(const std::string& file_name);
  // Reads a table with a heading line, then MapY, MapX, MapZ, CellX, CellY.
  // False when the file cannot be read.
  virtual bool ImportSurveyTable(const std::string& file_name);
  // Writes a ".gcp" file. False, with no file written, for an empty list or
  // name; false after showing the message for a write error.
  virtual bool SaveToFile(const std::string& file_name);

  void AddFromErsLine(const std::string& line);
  // Also widens the extent by the new point's map coordinates.
  void AddFromLine(const std::string& line);
  // Frees the point at `index`; out of range does nothing.
  void Delete(int index);

  // Out of range: an empty text, false or 0. Values are numbered 1 to 5.
  std::string GetName(int index) const;
  bool GetActive(int index) const;
  double GetValue(int index, int value_no) const;
  // Out of range or unchanged: nothing happens. Otherwise Modified is set.
  void SetName(int index, const std::string& value);
  void SetActive(int index, bool value);
  void SetValue(int index, int value_no, double value);

  // Calls OnChange when the value is true.
  void SetModified(bool value);

  std::string Spheroid;
  std::string Datum;
  std::string Projection;
  double MinX = 1e308;
  double MaxX = -1e308;
  double MinY = 1e308;
  double MaxY = -1e308;
  double MinZ = 1e308;
  double MaxZ = -1e308;
  bool Indent = false;
  bool Modified = false;
  std::function<void(ControlPointList*)> OnChange;

 private:
  void Append(std::unique_ptr<ControlPoint> point);
  void ResetExtent();

  std::vector<std::unique_ptr<ControlPoint>> items_;
};

}  // namespace clipra
