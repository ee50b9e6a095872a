#pragma once
// One share of a source folder: n runs (machines, scheduler tasks) split one folder
// without talking to each other. A document's share follows the page names it would
// write (its target folder and its name without extension), so documents whose pages
// could be named alike are always in the same share, and no document is taken twice.
#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

// 64-bit FNV-1a of the bytes: the same on every machine and every build.
uint64_t Fnv1a64(std::string_view bytes);

class TkxShard {
 public:
  // The whole folder.
  TkxShard() = default;
  // Reads a share; false (with the reason in `why`, a sentence for a person) when the
  // text names none, `out` left alone then. The forms:
  //   "i/n"         share i of n, counted from 1 (2/3);
  //   "t/lo-hi"     task t of the tasks lo to hi, any first number (0/0-2 is the first
  //                 of three counted from 0, as Slurm's --array=0-2 counts);
  //   "SLURM_ARRAY_TASK_ID"  from a Slurm job array's variables: the task id with the
  //                 array's first and last id (and step) that Slurm sets;
  //   "SLURM_ARRAY_TASK_ID/n", "JOB_COMPLETION_INDEX/n": the index from that variable
  //                 (Slurm's counted from the array's first id, a Kubernetes Indexed
  //                 Job's from 0), n shares; "NAME/lo-hi" as "t/lo-hi".
  // A variable's name may begin with '$'. Empty text (or blanks only) is the whole folder.
  static bool Parse(std::string_view text, TkxShard& out, std::string* why = nullptr);

  bool All() const { return FCount <= 1; }
  int Index() const { return FIndex; }
  int Count() const { return FCount; }
  // Whether the documents of a share key (TkxBatch::ShareKey) are in this share.
  bool Takes(std::string_view key) const;

 private:
  int FIndex = 1;  // from 1
  int FCount = 1;
};

}  // namespace kx
