#pragma once
// The preview: the converted pages of one document as thumbnails. A double click
// (or Enter) on a page opens it with the desktop's viewer.
#include <string>
#include <vector>

#include <QLabel>
#include <QListWidget>
#include <QTimer>

#include "ui/kxFormBase.h"

namespace kx {

class TkxFrmPreview : public TkxFrmBase {
  Q_OBJECT
 public:
  explicit TkxFrmPreview(QWidget* parent = nullptr);

  // Shows the pages of the document `fileName` (item `itemIndex` of the list) whose
  // row reads `status` and `resultText`; its page files are found by `pagePattern`
  // (the names as bytes, "*" for the number). The thumbnails follow one by one.
  void ShowDocument(int itemIndex, const std::string& fileName, int status, const std::string& resultText,
                    const std::string& pagePattern);
  // Shows no document (the list it belonged to is gone).
  void Clear();
  int ItemIndex() const { return FItemIndex; }
  const std::vector<std::string>& Pages() const { return FPages; }
  // True once every thumbnail of the current document is drawn.
  bool Complete() const { return FNext >= FPages.size(); }
  void OpenPage(int page);

  QLabel* lblFile;
  QLabel* lblNote;
  QListWidget* lPages;

 private:
  void LoadNext();

  int FItemIndex = -1;
  std::vector<std::string> FPages;
  size_t FNext = 0;
  QTimer FLoader;
};

}  // namespace kx
