#pragma once
// Binds named properties of a window control (any QObject) to settings text.
// Property names are matched without regard to letter case ("Text" finds "text").
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

namespace kx {

enum class TkxPropKind { Text, Enumeration, Integer, Other };

struct TkxPropInfo {
  std::string Name;
  TkxPropKind Kind = TkxPropKind::Other;
  int MetaIndex = -1;                    // index in the control's meta-object
  std::vector<std::string> Identifiers;  // enumerations: "False", "True" for booleans
};

class TkxPropList {
 public:
  explicit TkxPropList(QObject* control);

  QObject* Instance() const { return FInstance; }
  int PropCount() const { return int(FPropList.size()); }
  const std::vector<TkxPropInfo>& PropList() const { return FPropList; }

  // Never report errors: an unknown property reads as "" and is not written.
  std::string GetValue(const std::string& name) const;
  void SetValue(const std::string& name, const std::string& text);

 private:
  const TkxPropInfo* Find(const std::string& name) const;

  QPointer<QObject> FInstance;  // null once the control is destroyed
  std::vector<TkxPropInfo> FPropList;
};

}  // namespace kx
