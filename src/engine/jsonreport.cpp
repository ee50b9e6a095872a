#include "engine/jsonreport.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "engine/batch.h"
#include "platform/paths.h"

namespace kx {

namespace {

const char* StatusName(const TkxNode& n) {
  switch (n.Status) {
    case TkxNode::Success: return n.Skipped ? "skipped" : "converted";
    case TkxNode::Failure: return "failed";
    default: return "not done";  // never handed out, or the run stopped first
  }
}

}  // namespace

std::string JsonReportLines(TkxBatch& batch) {
  std::string out;
  auto& items = batch.LockItems();
  try {
    for (const auto& node : items) {
      nlohmann::ordered_json files = nlohmann::ordered_json::array();
      for (const std::string& f : node->Pages) files.push_back(DisplayPath(f));
      nlohmann::ordered_json line = {
          {"source", DisplayPath(node->FileName)},
          {"status", StatusName(*node)},
          {"files", files},
          {"pages", node->Pages.size()},
          {"seconds", std::round(node->Seconds * 1000) / 1000},
          {"message", DisplayPath(node->ResultText)},
      };
      out += line.dump() + "\n";
    }
  } catch (...) {
    batch.UnlockItems();
    throw;
  }
  batch.UnlockItems();
  return out;
}

}  // namespace kx
