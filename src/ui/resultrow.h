#pragma once
// A row of the result list. It carries the index of the file item it shows, so
// the list can be sorted by any column while notifications, the export and the
// preview still find the row of item i.
#include <mutex>
#include <string>

#include <QTreeWidgetItem>

#include "engine/batch.h"

namespace kx {

class TkxResultRow : public QTreeWidgetItem {
 public:
  TkxResultRow(int itemIndex, const std::string& fileName);

  int ItemIndex() const { return FItemIndex; }
  // The item's status: the image index and the word of the list export.
  int Status() const;
  void SetResult(int status, const std::string& resultText, const std::string& pagePattern, const QIcon& image);
  // The file's name as the file system has it (bytes that are not UTF-8 included):
  // for opening it. The list shows it as the run log writes it (DisplayPath).
  const std::string& FileName() const { return FFileName; }
  const std::string& ResultText() const { return FResultText; }
  // The page files as bytes ("*" for the page number), for finding them.
  const std::string& PagePattern() const { return FPagePattern; }

  // By status, file name or result (numbers inside names in their order); equal
  // keys keep the item order, so every sort is stable and reversible.
  bool operator<(const QTreeWidgetItem& other) const override;

 private:
  const int FItemIndex;
  const std::string FFileName;
  std::string FResultText;
  std::string FPagePattern;
};

// The row at `item` of a list view (nullptr when `item` is none of ours).
TkxResultRow* ResultRow(QTreeWidgetItem* item);
const TkxResultRow* ResultRow(const QTreeWidgetItem* item);

// Runs `fn` with the batch's items while holding the items lock; the lock is
// released however `fn` ends.
template <class F>
decltype(auto) WithLockedItems(TkxBatch& batch, F&& fn) {
  TkxBatch::TItems& items = batch.LockItems();
  std::lock_guard<TCriticalSection> unlock(batch.ItemsLock(), std::adopt_lock);
  return fn(static_cast<const TkxBatch::TItems&>(items));
}

}  // namespace kx
