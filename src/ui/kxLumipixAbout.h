#pragma once
// The edition's about window: the Lumipix logo in place of the plain image.
#include "ui/kxFormAbout.h"

namespace kx {

class TkxFrmLumipixAbout : public TkxFrmAbout {
  Q_OBJECT
 public:
  explicit TkxFrmLumipixAbout(QWidget* parent = nullptr);
};

}  // namespace kx
