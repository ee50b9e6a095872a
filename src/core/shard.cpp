#include "core/shard.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/numbers.h"
#include "platform/text.h"

namespace kx {

uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

namespace {

constexpr const char* kSlurmId = "SLURM_ARRAY_TASK_ID";
constexpr const char* kJobIndex = "JOB_COMPLETION_INDEX";
constexpr int64_t kMost = 9999999;

std::optional<int64_t> Number(std::string_view s) {
  std::string t = Trim(s);
  if (t.empty() || t.size() > 7) return std::nullopt;
  std::optional<uint64_t> n = ReadDigits(t);
  if (!n) return std::nullopt;
  return int64_t(*n);
}

bool Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

std::string Forms(std::string_view text) {
  return "The option \"Shard\" must name a share such as 2/3 (share 2 of 3, counted from 1), 0/0-2 (task 0 of the "
         "tasks 0 to 2), SLURM_ARRAY_TASK_ID or JOB_COMPLETION_INDEX/3, not \"" +
         std::string(text) + "\"";
}

// The value of a scheduler's variable as a number.
bool Variable(const std::string& name, int64_t& value, std::string* why, bool required = true) {
  const char* v = std::getenv(name.c_str());
  if (!v || !*v) {
    if (!required) return false;
    std::string what = name == kJobIndex ? "this run is not a pod of a Kubernetes Indexed Job"
                                         : "this run is not a task of a Slurm job array";
    return Fail(why, "The option \"Shard\" takes the share from " + name + ", which is not set: " + what);
  }
  std::optional<int64_t> n = Number(v);
  if (!n)
    return Fail(why, "The option \"Shard\" takes the share from " + name + ", which is \"" + v + "\", not a number");
  value = *n;
  return true;
}

// A share read: its index from 1, and the count.
struct TPart {
  int I = 1, N = 1;
};

// The tasks `Lo` to `Hi` in steps of `Step`.
struct TTasks {
  int64_t Lo = 0, Hi = 0, Step = 1;
};

// Share `index` (from 1) of `count`, or the reason there is none.
bool Share(int64_t index, int64_t count, TPart& part, std::string* why, const std::string& text) {
  if (count < 1 || count > kMost) return Fail(why, Forms(text));
  if (index < 1 || index > count) {
    std::string s = "The option \"Shard\" names share " + std::to_string(index) + " of " + std::to_string(count) +
                    ", but shares are counted from 1 to " + std::to_string(count);
    if (index == 0) s += "; for tasks counted from 0 write 0/0-" + std::to_string(count - 1);
    return Fail(why, s);
  }
  part.I = int(index);
  part.N = int(count);
  return true;
}

// Task `task` of `tasks`, which `what` describes.
bool Range(int64_t task, const TTasks& tasks, TPart& part, std::string* why, const std::string& what) {
  int64_t lo = tasks.Lo, hi = tasks.Hi, step = tasks.Step;
  if (hi < lo || step < 1) return Fail(why, "The option \"Shard\" names the tasks " + what + ", which are none");
  if (task < lo || task > hi || (task - lo) % step != 0)
    return Fail(why,
                "The option \"Shard\" names task " + std::to_string(task) + ", which is not one of the tasks " + what);
  part.I = int((task - lo) / step + 1);
  part.N = int((hi - lo) / step + 1);
  return true;
}

// "lo-hi" as two numbers.
bool ReadRange(std::string_view text, int64_t& lo, int64_t& hi) {
  size_t dash = text.find('-', 1);
  if (dash == std::string_view::npos) return false;
  std::optional<int64_t> a = Number(text.substr(0, dash)), b = Number(text.substr(dash + 1));
  if (!a || !b) return false;
  lo = *a, hi = *b;
  return true;
}

// A variable's name as the index part: "SLURM_ARRAY_TASK_ID", "$JOB_COMPLETION_INDEX".
std::string VariableName(std::string_view part) {
  std::string t = Trim(part);
  if (!t.empty() && t[0] == '$') t.erase(0, 1);
  if (t.size() > 2 && t.front() == '{' && t.back() == '}') t = t.substr(1, t.size() - 2);
  if (SameText(t, kSlurmId)) return kSlurmId;
  if (SameText(t, kJobIndex)) return kJobIndex;
  return std::string();
}

// The whole Slurm array from its variables.
bool SlurmArray(TPart& part, std::string* why) {
  int64_t id = 0, lo = 0, hi = 0, step = 1, count = 0;
  if (!Variable(kSlurmId, id, why)) return false;
  if (!Variable("SLURM_ARRAY_TASK_MIN", lo, why) || !Variable("SLURM_ARRAY_TASK_MAX", hi, why)) return false;
  Variable("SLURM_ARRAY_TASK_STEP", step, nullptr, false);
  std::string what =
      std::to_string(lo) + " to " + std::to_string(hi) + (step > 1 ? " in steps of " + std::to_string(step) : "");
  if (!Range(id, TTasks{lo, hi, step}, part, why, what)) return false;
  if (Variable("SLURM_ARRAY_TASK_COUNT", count, nullptr, false) && count != part.N)
    return Fail(why, "The option \"Shard\" cannot take the share from this Slurm array: its " + std::to_string(count) +
                         " tasks are not every task from " + what + "; write the share as i/n");
  return true;
}

}  // namespace

bool TkxShard::Parse(std::string_view text, TkxShard& out, std::string* why) {
  std::string t = Trim(text);
  if (t.empty()) {
    out = TkxShard();
    return true;
  }
  size_t slash = t.find('/');
  std::string_view head = std::string_view(t).substr(0, slash);
  std::string name = VariableName(head);
  TPart part;
  if (slash == std::string::npos) {
    if (name != kSlurmId) return Fail(why, Forms(t));
    if (!SlurmArray(part, why)) return false;
  } else {
    std::string_view tail = std::string_view(t).substr(slash + 1);
    int64_t index = 0;
    if (!name.empty()) {
      if (!Variable(name, index, why)) return false;
    } else {
      std::optional<int64_t> v = Number(head);
      if (!v) return Fail(why, Forms(t));
      index = *v;
    }
    int64_t lo = 0, hi = 0;
    if (ReadRange(tail, lo, hi)) {
      if (!Range(index, TTasks{lo, hi, 1}, part, why, std::string(Trim(tail)))) return false;
    } else {
      std::optional<int64_t> count = Number(tail);
      if (!count) return Fail(why, Forms(t));
      if (name == kJobIndex) {
        ++index;  // a Kubernetes Indexed Job counts its pods from 0
      } else if (name == kSlurmId) {
        int64_t first = 1, step = 1;
        if (!Variable("SLURM_ARRAY_TASK_MIN", first, why)) return false;
        Variable("SLURM_ARRAY_TASK_STEP", step, nullptr, false);
        if (step < 1 || index < first || (index - first) % step != 0)
          return Fail(why, "The option \"Shard\" cannot place task " + std::to_string(index) + " of this Slurm array");
        index = (index - first) / step + 1;
      }
      if (!Share(index, *count, part, why, t)) return false;
    }
  }
  if (part.N > kMost) return Fail(why, Forms(t));
  out.FIndex = part.I;
  out.FCount = part.N;
  return true;
}

bool TkxShard::Takes(std::string_view key) const {
  if (FCount <= 1) return true;
  return Fnv1a64(key) % uint64_t(FCount) == uint64_t(FIndex - 1);
}

}  // namespace kx
