#include "core/proplist.h"

#include <QMetaEnum>
#include <QMetaObject>
#include <QMetaProperty>
#include <QObject>
#include <QVariant>

#include "platform/text.h"

namespace kx {

TkxPropList::TkxPropList(QObject* control) : FInstance(control) {
  if (!control) return;
  const QMetaObject* mo = control->metaObject();
  for (int i = 0; i < mo->propertyCount(); ++i) {
    QMetaProperty p = mo->property(i);
    TkxPropInfo info;
    info.Name = p.name();
    info.MetaIndex = i;
    int type = p.metaType().id();
    if (p.isEnumType()) {
      info.Kind = TkxPropKind::Enumeration;
      QMetaEnum e = p.enumerator();
      for (int k = 0; k < e.keyCount(); ++k) info.Identifiers.emplace_back(e.key(k));
    } else if (type == QMetaType::Bool) {
      info.Kind = TkxPropKind::Enumeration;
      info.Identifiers = {"False", "True"};
    } else if (type == QMetaType::QString) {
      info.Kind = TkxPropKind::Text;
    } else if (type == QMetaType::Int || type == QMetaType::UInt || type == QMetaType::LongLong ||
               type == QMetaType::Short || type == QMetaType::Long) {
      info.Kind = TkxPropKind::Integer;
    }
    FPropList.push_back(std::move(info));
  }
}

const TkxPropInfo* TkxPropList::Find(const std::string& name) const {
  for (const auto& p : FPropList)
    if (SameText(p.Name, name)) return &p;
  return nullptr;
}

std::string TkxPropList::GetValue(const std::string& name) const {
  const TkxPropInfo* p = Find(name);
  if (!p || !FInstance) return std::string();
  QVariant v = FInstance->metaObject()->property(p->MetaIndex).read(FInstance);
  switch (p->Kind) {
    case TkxPropKind::Integer: return std::to_string(v.toLongLong());
    case TkxPropKind::Enumeration: {
      if (v.metaType().id() == QMetaType::Bool) return v.toBool() ? "True" : "False";
      QMetaEnum e = FInstance->metaObject()->property(p->MetaIndex).enumerator();
      const char* key = e.valueToKey(v.toInt());
      return key ? key : "";
    }
    case TkxPropKind::Text: return v.toString().toStdString();
    case TkxPropKind::Other: break;
  }
  return std::string();
}

void TkxPropList::SetValue(const std::string& name, const std::string& text) {
  const TkxPropInfo* p = Find(name);
  if (!p || !FInstance) return;
  QMetaProperty mp = FInstance->metaObject()->property(p->MetaIndex);
  if (!mp.isWritable()) return;
  if (p->Kind == TkxPropKind::Text) {
    mp.write(FInstance, QString::fromStdString(text));
  } else if (p->Kind == TkxPropKind::Enumeration) {
    std::string want = text.empty() ? "False" : text;
    for (size_t k = 0; k < p->Identifiers.size(); ++k) {
      if (!SameText(p->Identifiers[k], want)) continue;
      if (mp.metaType().id() == QMetaType::Bool)
        mp.write(FInstance, QVariant(k == 1));
      else
        mp.write(FInstance, QVariant(mp.enumerator().value(int(k))));
      return;
    }
  }
}

}  // namespace kx
